// What an event's picture costs the files' thread in a folder that already holds many of Tirvel's
// pictures, with --keep-events as many, so that every save also prunes one: the save itself
// (written, synced and renamed) with the pruning, and reading the folder once as watching starts.

#include "event_folder.h"
#include "event_pictures.h"
#include "report_once.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace tirvel;

namespace {

// Empty pictures a second apart, ending a day before now.
void makePictures(const QTemporaryDir &dir, int count)
{
    const QDateTime last = QDateTime::currentDateTimeUtc().addDays(-1);
    for (int i = 0; i < count; ++i) {
        const QString name = last.addSecs(i - count).toString("yyyyMMdd'T'HHmmss'Z'.png");
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    }
}

// With a second argument of 0 nothing is pruned: the difference is what pruning costs.
void savingAnEventsPicture(benchmark::State &state)
{
    const int count = int(state.range(0));
    const int keep = state.range(1) != 0 ? count : count + 1000000;
    QTemporaryDir dir;
    makePictures(dir, count);
    ReportOnce reports([](const QString &) {});
    EventFolder folder(dir.path(), reports);
    folder.reach();
    EventPictures pictures(folder, keep, reports);
    pictures.prepare();
    QImage frame(160, 120, QImage::Format_RGB32);
    frame.fill(Qt::darkGreen);
    const QByteArray png = EventPictures::encode(frame, frame);
    for (auto _ : state) {
        benchmark::DoNotOptimize(pictures.save(png, QDateTime::currentDateTimeUtc()));
        pictures.prune(std::chrono::hours(1));
    }
}

void readingThePicturesAsWatchingStarts(benchmark::State &state)
{
    const int count = int(state.range(0));
    QTemporaryDir dir;
    makePictures(dir, count);
    ReportOnce reports([](const QString &) {});
    for (auto _ : state) {
        EventFolder folder(dir.path(), reports);
        folder.reach();
        EventPictures pictures(folder, count, reports);
        pictures.prepare();
    }
}

} // namespace

BENCHMARK(savingAnEventsPicture)
    ->ArgsProduct({{20000, 100000}, {1, 0}})
    ->ArgNames({"pictures", "pruning"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(readingThePicturesAsWatchingStarts)
    ->Arg(20000)
    ->Arg(100000)
    ->ArgNames({"pictures"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
