// What writing the live view's frames costs: one 160 x 120 picture encoded as a 24-bit bitmap and
// put in place whole, as --frames-from-camera does up to five times a second.

#include "camera_facts.h"
#include "demo_scene.h"
#include "frame_writer.h"
#include "whole_file.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace tirvel;

namespace {

// In memory, where --frames-from-camera keeps its frames by default ($XDG_RUNTIME_DIR); on a disk
// the time is mostly the wait for the disk.
QString memoryFolder()
{
    return QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm/")
                                                              : QDir::tempPath() + QLatin1Char('/');
}

void writeFrame(benchmark::State &state)
{
    QTemporaryDir dir(memoryFolder() + QStringLiteral("tirvel-bench-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("6.bmp"));
    const QImage picture = drawDemoScene(DESIGN_SIZE, 1234);
    for (auto _ : state) {
        const QString problem = storeWhole(path, FrameWriter::encode(picture));
        if (!problem.isEmpty())
            state.SkipWithError(qPrintable(problem));
    }
}
BENCHMARK(writeFrame)->Unit(benchmark::kMicrosecond);

void encodeFrame(benchmark::State &state)
{
    const QImage picture = drawDemoScene(DESIGN_SIZE, 1234);
    for (auto _ : state)
        benchmark::DoNotOptimize(FrameWriter::encode(picture));
}
BENCHMARK(encodeFrame)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
