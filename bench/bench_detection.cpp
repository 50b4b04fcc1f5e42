// How fast the change scan and the frame load are, with the real colour library bound.

#include "colsum_library.h"
#include "detection_state.h"
#include "picture_surface.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace tirvel;

namespace {

// A textured scene, and in the timed frame a bright object that has gone from the test frame:
// what a real test sees, with about a tenth of the sample points counted and marked.
QImage frame(int width, int height, bool withObject)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, qRgb(40 + (x * 3 & 0x3F), 60 + (y * 5 & 0x3F), 80 + ((x ^ y) & 0x3F)));
    }
    if (withObject) {
        for (int y = height / 3; y < height / 3 + height / 3; ++y) {
            for (int x = width / 3; x < width / 3 + width * 3 / 10; ++x)
                image.setPixel(x, y, qRgb(250, 240, 200));
        }
    }
    return image;
}

struct Frames
{
    QTemporaryDir dir;
    QString timedPath = dir.filePath(QStringLiteral("5.bmp"));
    QString testPath = dir.filePath(QStringLiteral("6.bmp"));
    PictureSurface timed {2, 0x00C8D0D4};
    PictureSurface test {1, 0x00FFFFFF};

    // Both surfaces take the same outer size, as the window gives them at start-up.
    Frames(int width, int height)
    {
        frame(width + 4, height + 4, true).save(timedPath, "BMP");
        frame(width + 4, height + 4, false).save(testPath, "BMP");
        for (PictureSurface *surface : {&timed, &test})
            surface->setOuterSize({width + 4, height + 4});
        timed.load(timedPath);
        test.load(testPath);
    }
};

void scanFrame(benchmark::State &state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    Frames frames(width, height);
    ColSumLibrary colSum(QStringLiteral(COLORSUM_PATH));
    DetectionState detection;
    detection.setScanBounds({width, height});
    for (auto _ : state) {
        detection.scan(frames.timed, frames.test, colSum);
        detection.emptyCount();
    }
    const double points = double(width / 2 + 1) * (height / 2 + 1);
    state.counters["points/s"]
        = benchmark::Counter(points, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(scanFrame)
    ->Args({156, 116})
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);

// The scan's floor: the two calls into the colour library that each sample point needs, and
// nothing else, so the scan's own overhead shows beside it.
void scanFloor(benchmark::State &state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    ColSumLibrary colSum(QStringLiteral(COLORSUM_PATH));
    std::int32_t sink = 0;
    for (auto _ : state) {
        for (int x = 0; x <= width; x += SAMPLE_STEP) {
            for (int y = 0; y <= height; y += SAMPLE_STEP) {
                const auto colour = ColourValue(x ^ y);
                sink = wrappingAdd(sink, wrappingSub(colSum(colour), colSum(colour + 1)));
            }
        }
        benchmark::DoNotOptimize(sink);
    }
    const double points = double(width / 2 + 1) * (height / 2 + 1);
    state.counters["points/s"]
        = benchmark::Counter(points, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(scanFloor)->Args({156, 116})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

void loadFrame(benchmark::State &state)
{
    Frames frames(156, 116);
    for (auto _ : state)
        frames.timed.load(frames.timedPath);
}
BENCHMARK(loadFrame)->Unit(benchmark::kMicrosecond);

// What one click of the test button costs: load the test frame, scan, decide.
void testClick(benchmark::State &state)
{
    Frames frames(156, 116);
    ColSumLibrary colSum(QStringLiteral(COLORSUM_PATH));
    DetectionState detection;
    detection.setScanBounds({156, 116});
    int detections = 0;
    for (auto _ : state) {
        frames.test.load(frames.testPath);
        detection.scan(frames.timed, frames.test, colSum);
        detections += beatsSensitivity(detection.changeCount(), 50) ? 1 : 0;
        detection.emptyCount();
    }
    benchmark::DoNotOptimize(detections);
}
BENCHMARK(testClick)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
