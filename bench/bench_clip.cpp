// What a clip costs, 640 x 480 at 5 pictures a second: the ring alone, which runs all the time
// while watching, and a clip encoded, whose converting and encoding run on GStreamer's threads.
// Each reports its share of one core at that rate ("core_%"), counted over every thread.

#include "clip_encoder.h"
#include "clip_recorder.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>

using namespace tirvel;

namespace {

constexpr int PICTURES_A_SECOND = 5;

double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A room with a camera's grain, and somebody crossing it.
std::vector<QImage> roomPictures(int count)
{
    std::vector<QImage> pictures;
    QRandomGenerator random(7);
    for (int i = 0; i < count; ++i) {
        QImage picture(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x) {
                const int grain = int(random.bounded(12));
                const int shade = 90 + x / 8 + grain;
                line[x] = qRgb(shade, shade - 10, shade - 20);
            }
        }
        for (int y = 150; y < 450; ++y) {
            auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
            for (int x = 40 + i * 20; x < 120 + i * 20 && x < 640; ++x)
                line[x] = qRgb(40, 50, 120);
        }
        pictures.push_back(picture);
    }
    return pictures;
}

void shareOfCore(benchmark::State &state, double cpu, std::int64_t pictures)
{
    state.counters["core_%"] = 100 * cpu / (double(pictures) / PICTURES_A_SECOND);
}

} // namespace

static void ringWithoutEvent(benchmark::State &state)
{
    const std::vector<QImage> pictures = roomPictures(25);
    ClipRecorder recorder({[](const QString &, QSize) { return std::unique_ptr<ClipSink>(); },
                              [](const QString &, bool) {}},
        [] { return qint64(0); });
    qint64 ms = 0;
    std::int64_t count = 0;
    const double before = cpuSeconds();
    for (auto _ : state) {
        recorder.frame(pictures[std::size_t(count % 25)], ms);
        ms += 1000 / PICTURES_A_SECOND;
        ++count;
    }
    shareOfCore(state, cpuSeconds() - before, count);
}
BENCHMARK(ringWithoutEvent);

// Five seconds of pictures into a clip, to its end on the disk.
static void clipRecorded(benchmark::State &state)
{
    const std::vector<QImage> pictures = roomPictures(25);
    QTemporaryDir folder;
    std::int64_t count = 0;
    const double before = cpuSeconds();
    for (auto _ : state) {
        QString problem;
        auto encoder
            = ClipEncoder::open(::open(QFile::encodeName(folder.filePath("clip.webm")).constData(),
                                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600),
                {640, 480}, &problem);
        if (!encoder) {
            state.SkipWithError(qPrintable(problem));
            return;
        }
        for (const QImage &picture : pictures)
            encoder->push(picture, count++ % 25 * (1000 / PICTURES_A_SECOND));
        encoder->finish();
        if (encoder->wait(30000) != ClipSink::State::Whole) {
            state.SkipWithError("the clip did not end whole");
            return;
        }
    }
    shareOfCore(state, cpuSeconds() - before, count);
}
BENCHMARK(clipRecorded)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
