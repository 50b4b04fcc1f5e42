// The window's thread while Tirvel keeps watch over its own camera, measured from inside: the
// program built as `tirvel --watch --frames-from-camera --camera test-scene` builds it, offscreen,
// with its frames written, tested every second and every detection recorded. A timer due every
// 5 ms records how late it comes; the process's CPU time and peak memory are taken over the whole
// run. With URL, every event also goes to that MQTT broker, as --mqtt URL does; a broker that is
// not there, or does not answer, must change nothing. With --slow-disk MS, every frame, picture
// and log line takes MS longer to write, as on a slow USB stick or network folder. With --camera
// NAME, the camera of that name is watched instead (clip_cost.sh gives it a fake webcam).
//   watch_stall [--slow-disk MS] [--camera NAME] [SECONDS [URL]]

#include "command_line.h"
#include "main_window.h"
#include "mqtt_link.h"
#include "program.h"
#include "watcher.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

using namespace tirvel;

namespace {

double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakResidentKb()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList arguments = QApplication::arguments().mid(1);
    int slowDiskMs = 0;
    if (arguments.value(0) == QLatin1String("--slow-disk")) {
        slowDiskMs = arguments.value(1).toInt();
        arguments = arguments.mid(2);
    }
    QString camera = QStringLiteral("test-scene");
    if (arguments.value(0) == QLatin1String("--camera")) {
        camera = arguments.value(1);
        arguments = arguments.mid(2);
    }
    const int seconds = arguments.isEmpty() ? 20 : arguments.value(0).toInt();
    const QString url = arguments.value(1);
    QTemporaryDir frames;
    QTemporaryDir events;

    QStringList line {QStringLiteral("tirvel"), QStringLiteral("--watch"),
        QStringLiteral("--frames-from-camera"), QStringLiteral("--camera"), camera,
        QStringLiteral("--directory"), frames.path(), QStringLiteral("--events"), events.path()};
    if (!url.isEmpty())
        line << QStringLiteral("--mqtt") << url << QStringLiteral("--mqtt-id")
             << QStringLiteral("bench");
    const CommandLine options = parseCommandLine(line, QStringLiteral(COLORSUM_DIR));
    if (options.action != CommandLine::Action::Run) {
        std::fprintf(stderr, "watch_stall: %s\n", qPrintable(options.message));
        return 2;
    }
    Program::Replacements replacements;
    replacements.beep = [] {};
    if (slowDiskMs > 0)
        replacements.beforeEachWrite = [slowDiskMs] { QThread::msleep(slowDiskMs); };
    Program program(options, QStringLiteral(COLORSUM_DIR), std::move(replacements));
    int recorded = 0;
    QObject::connect(&program.watcher(), &Watcher::recorded, [&recorded] { ++recorded; });
    program.start();

    QElapsedTimer elapsed;
    elapsed.start();
    const double cpuBefore = cpuSeconds();
    qint64 due = 5;
    qint64 longest = 0;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        // The first second starts the camera, once.
        if (elapsed.elapsed() > 1000)
            longest = std::max(longest, elapsed.elapsed() - due);
        due = elapsed.elapsed() + 5;
    });
    watch.start(5);
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    QApplication::exec();

    const double share = 100 * (cpuSeconds() - cpuBefore) / (double(elapsed.elapsed()) / 1000);
    MqttLink *link = program.link();
    const bool connected = link && link->isConnected();
    const bool linked = link != nullptr;
    // Ending finishes the clip of an open event.
    const bool ended = program.end();
    std::printf("watching %s for %d s%s%s%s%s: longest stall of the window's thread "
                "%lld ms, %.1f %% of a core, peak resident memory %ld MB, %d events recorded, %lld "
                "clips\n",
        camera == QLatin1String("test-scene") ? "the demo scene" : qPrintable(camera), seconds,
        url.isEmpty() ? "" : ", telling ", qPrintable(url),
        connected ? " (connected)" : (linked ? " (never connected)" : ""),
        slowDiskMs > 0 ? qPrintable(QStringLiteral(", every write %1 ms slower").arg(slowDiskMs))
                       : "",
        static_cast<long long>(longest), share, peakResidentKb() / 1024, recorded,
        static_cast<long long>(
            QDir(events.path()).entryList({QStringLiteral("*.webm")}, QDir::Files).size()));
    return ended ? 0 : 1;
}
