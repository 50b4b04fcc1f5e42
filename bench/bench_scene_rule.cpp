// How long the scene rule takes over one 640 x 480 camera frame at its 320 x 240 working size.

#include "scene_rule.h"

#include <QImage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>

using namespace tirvel;

namespace {

// A textured room with noise of its own in each frame and a person crossing, so that every step
// of the rule has something to do.
QImage frame(int index)
{
    std::mt19937 random {std::uint32_t(index)};
    std::normal_distribution<double> noise(0, 4);
    QImage image(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < 480; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < 640; ++x) {
            const bool person = index > 8 && std::abs(x - 100 - index * 12) < 30 && y > 150;
            const int base = person ? 60 : 90 + ((x / 40 + y / 30) % 3) * 30;
            const auto level = [&](int offset) {
                return std::clamp(int(base + offset + noise(random)), 0, 255);
            };
            line[x] = qRgb(level(10), level(0), level(-10));
        }
    }
    return image;
}

void analyseFrame(benchmark::State &state)
{
    std::array<QImage, 24> frames;
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = frame(int(i));
    const SamplePlacement samples = placeSamples({640, 480}, {160, 120}, {156, 116});
    SceneAnalyser analyser({});
    qint64 milliseconds = 0;
    for (std::size_t i = 0; i < 8; ++i, milliseconds += 200)
        analyser.analyse(frames[i], milliseconds, samples);
    std::size_t next = 8;
    for (auto _ : state) {
        benchmark::DoNotOptimize(analyser.analyse(frames[next], milliseconds, samples));
        milliseconds += 200;
        next = next + 1 < frames.size() ? next + 1 : 8;
    }
}

} // namespace

BENCHMARK(analyseFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
