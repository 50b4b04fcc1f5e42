#include "watch_wiring.h"

#include "camera_supervisor.h"
#include "detector.h"
#include "frame_writer.h"
#include "main_window.h"
#include "tirvel_error.h"
#include "watcher.h"

#include <cstdio>

namespace tirvel {

void watchOver(Watcher &watcher, Detector &detector, CameraSupervisor &camera, MainWindow &window,
    FrameWriter *writer)
{
    QObject::connect(
        &detector, &Detector::timedFrameChanged, &watcher, &Watcher::timedFrameChanged);
    QObject::connect(&detector, &Detector::testFrameChanged, &watcher, &Watcher::testFrameChanged);
    QObject::connect(&detector, &Detector::testFrameRead, &watcher, &Watcher::testFrameRead);
    QObject::connect(&detector, &Detector::tested, &watcher, &Watcher::tested);
    QObject::connect(
        &camera, &CameraSupervisor::statusChanged, &watcher, &Watcher::cameraStatusChanged);
    watcher.cameraStatusChanged(camera.status());
    QObject::connect(&window, &MainWindow::watchRequested, &watcher, &Watcher::setWatching);
    QObject::connect(&watcher, &Watcher::watchingChanged, &window, &MainWindow::setWatching);
    QObject::connect(&watcher, &Watcher::watchingChanged, &detector,
        [&detector](bool watching) { detector.setWatching(watching); });
    QObject::connect(&watcher, &Watcher::automaticTestsPaused, &detector,
        [&detector](bool paused) { detector.setAutomaticTestsPaused(paused); });
    QObject::connect(&watcher, &Watcher::problem, &window, [&window](const QString &description) {
        window.reportError(int(ErrorNumber::PathAccessError), description);
    });
    QObject::connect(&watcher, &Watcher::notificationsUnavailable, [](const QString &why) {
        std::fprintf(stderr,
            "tirvel: desktop notifications cannot be shown (%s); events are still recorded\n",
            qPrintable(why));
    });
    if (writer == nullptr)
        return;
    QObject::connect(
        &watcher, &Watcher::watchingChanged, writer, &FrameWriter::setTimedFramesFromTests);
    QObject::connect(&detector, &Detector::testFrameRead, writer, &FrameWriter::writeTimedFrame);
}

} // namespace tirvel
