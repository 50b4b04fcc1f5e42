// How fast the change scan and the frame load are, with the real colour library bound.

#include "colsum_library.h"
#include "detection_state.h"
#include "detector.h"
#include "frame_files.h"
#include "picture_surface.h"
#include "steady_rule.h"

#include "bmp_writer.h"
#include "picture_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

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
    QString timedPath = dir.filePath(TIMED_FRAME_FILE);
    QString testPath = dir.filePath(TEST_FRAME_FILE);
    PictureSurface timed {0x00C8D0D4};
    PictureSurface test {0x00FFFFFF};

    // The test frame's border is a pixel narrower than the timed frame's, as in the window.
    Frames(int width, int height)
    {
        frame(width + 4, height + 4, true).save(timedPath, "BMP");
        frame(width + 4, height + 4, false).save(testPath, "BMP");
        timed.setInteriorSize({width, height});
        test.setInteriorSize({width + 2, height + 2});
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
    // The grid takes every second pixel, both ends included.
    const std::int64_t points = std::int64_t(width / 2 + 1) * (height / 2 + 1);
    state.counters["points/s"]
        = benchmark::Counter(double(points), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(scanFrame)
    ->Args({156, 116})
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);

// The steady rule on the same frames: light evened out, noise measured, neighbours checked.
void steadyScanFrame(benchmark::State &state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    Frames frames(width, height);
    ColSumLibrary colSum(QStringLiteral(COLORSUM_PATH));
    DetectionState detection;
    detection.setScanBounds({width, height});
    for (auto _ : state) {
        benchmark::DoNotOptimize(steadyScan(frames.timed, frames.test, detection, colSum));
        detection.emptyCount();
    }
    const std::int64_t points = std::int64_t(width / 2 + 1) * (height / 2 + 1);
    state.counters["points/s"]
        = benchmark::Counter(double(points), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(steadyScanFrame)->Args({156, 116})->Args({640, 480})->Unit(benchmark::kMicrosecond);

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
    // The grid takes every second pixel, both ends included.
    const std::int64_t points = std::int64_t(width / 2 + 1) * (height / 2 + 1);
    state.counters["points/s"]
        = benchmark::Counter(double(points), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(scanFloor)->Args({156, 116})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

void loadFrame(benchmark::State &state)
{
    Frames frames(156, 116);
    for (auto _ : state)
        frames.timed.load(frames.timedPath);
}
BENCHMARK(loadFrame)->Unit(benchmark::kMicrosecond);

// What one click of the test button costs the detector: load the test frame, scan, decide, and
// hand the marked frame and the result on.
void testClick(benchmark::State &state)
{
    Frames frames(156, 116);
    Detector detector(framePaths(frames.dir.path()), QStringLiteral(COLORSUM_PATH));
    detector.setFrames({{156, 116}, 0x00C8D0D4}, {{158, 118}, 0x00FFFFFF});
    detector.setSensitivity(50);
    detector.tick();
    int detections = 0;
    QObject::connect(&detector, &Detector::tested,
        [&detections](const TestResult &result) { detections += result.detected ? 1 : 0; });
    for (auto _ : state)
        detector.test();
    benchmark::DoNotOptimize(detections);
}
BENCHMARK(testClick)->Unit(benchmark::kMicrosecond);

// One test from the click to the result in the window's thread, with the detector on a thread
// of its own as the program runs it: the request crosses to the detector, the frame is loaded and
// scanned, and the marked frame and the result cross back.
void clickToResult(benchmark::State &state)
{
    Frames frames(156, 116);
    QThread thread;
    auto *detector = new Detector(framePaths(frames.dir.path()), QStringLiteral(COLORSUM_PATH));
    detector->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, detector, &QObject::deleteLater);
    thread.start();
    QMetaObject::invokeMethod(detector, [detector] {
        detector->setFrames({{156, 116}, 0x00C8D0D4}, {{158, 118}, 0x00FFFFFF});
        detector->tick();
    });
    QEventLoop loop;
    QImage shown;
    QObject receiver;
    QObject::connect(detector, &Detector::testFrameChanged, &receiver,
        [&shown](const QImage &picture) { shown = picture; });
    QObject::connect(detector, &Detector::tested, &loop, &QEventLoop::quit);
    for (auto _ : state) {
        QMetaObject::invokeMethod(detector, &Detector::test);
        loop.exec();
    }
    benchmark::DoNotOptimize(shown);
    thread.quit();
    thread.wait();
}
BENCHMARK(clickToResult)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Reading and decoding a frame at the pixel limit, off the window's thread but still the wait for
// a result; every depth, since the narrow ones are expanded pixel by pixel.
void loadLargestFrame(benchmark::State &state)
{
    const int bits = int(state.range(0));
    QTemporaryDir dir;
    const QString path = dir.filePath(TEST_FRAME_FILE);
    QImage picture(4096, int(MAX_PICTURE_PIXELS / 4096), QImage::Format_RGB32);
    picture.fill(qRgb(40, 80, 120));
    if (!testing::saveFile(path, testing::writeBmp(picture, bits)))
        state.SkipWithError("cannot write the frame");
    for (auto _ : state)
        benchmark::DoNotOptimize(loadPicture(path));
}
BENCHMARK(loadLargestFrame)
    ->Arg(1)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Arg(24)
    ->Arg(32)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char *argv[])
{
    // The detector's tick is a timer, which needs an application.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
