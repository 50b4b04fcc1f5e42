// The window's thread while Tirvel keeps watch over its own camera, measured from inside: the
// demo scene filmed, its frames written, tested every second and every detection recorded, as
// `tirvel --watch --frames-from-camera --camera test-scene` does, offscreen. A timer due every
// 5 ms records how late it comes; the process's CPU time and peak memory are taken over the whole
// run. With URL, every event also goes to that MQTT broker, as --mqtt URL does; a broker that is
// not there, or does not answer, must change nothing.
//   watch_stall [SECONDS [URL]]

#include "camera_supervisor.h"
#include "camera_view.h"
#include "clock.h"
#include "demo_scene_camera.h"
#include "detector.h"
#include "frame_writer.h"
#include "home_assistant.h"
#include "main_window.h"
#include "mqtt_bridge.h"
#include "mqtt_link.h"
#include "watch_wiring.h"
#include "watcher.h"

#include <QApplication>
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
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const QString url = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    QTemporaryDir frames;
    QTemporaryDir events;

    QThread thread;
    auto *detector = new Detector(frames.path(), QStringLiteral(COLORSUM_PATH),
        [](const QString &path) { return loadPicture(path, Settle::No); });
    detector->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, detector, &QObject::deleteLater);
    thread.start();
    const Clock clock = steadyClock();
    CameraSupervisor camera(std::make_unique<DemoSceneCamera>(), clock);
    MainWindow window(detector, new CameraView(camera), [] {});
    FrameWriter writer(frames.path(), clock);
    QObject::connect(&camera, &CameraSupervisor::pictureChanged, &writer, &FrameWriter::write);
    WatchSettings settings;
    settings.eventFolder = events.path();
    settings.ownCamera = true;
    Watcher watcher(settings, clock);
    watchOver(watcher, *detector, camera, window, &writer);
    std::unique_ptr<MqttLink> link;
    std::unique_ptr<MqttBridge> bridge;
    if (!url.isEmpty()) {
        QString problem;
        MqttLink::Settings linkSettings;
        linkSettings.target = MqttTarget::parse(url, problem).value_or(MqttTarget {});
        linkSettings.clientId = QStringLiteral("tirvel-bench");
        linkSettings.willTopic = tirvelTopic(QStringLiteral("bench"), QStringLiteral("status"));
        linkSettings.willPayload = QByteArrayLiteral("offline");
        link = std::make_unique<MqttLink>(linkSettings);
        bridge = std::make_unique<MqttBridge>(*link, watcher,
            MqttBridge::Settings {QStringLiteral("bench"), QStringLiteral("homeassistant"),
                QStringLiteral("bench"), events.path()});
        link->start();
    }
    int recorded = 0;
    QObject::connect(&watcher, &Watcher::recorded, [&recorded] { ++recorded; });
    window.show();
    watcher.setWatching(true);

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
    std::printf("watching the demo scene for %d s%s%s%s: longest stall of the window's thread %lld "
                "ms, %.1f %% of a core, peak resident memory %ld MB, %d events recorded\n",
        seconds, url.isEmpty() ? "" : ", telling ", qPrintable(url),
        link && link->isConnected() ? " (connected)" : (link ? " (never connected)" : ""),
        static_cast<long long>(longest), share, peakResidentKb() / 1024, recorded);
    if (bridge)
        bridge->finish();
    thread.quit();
    thread.wait();
    return 0;
}
