#pragma once

#include "camera_backend.h"
#include "clock.h"
#include "command_line.h"
#include "worker_thread.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace tirvel {

class AlertSound;
class CameraSupervisor;
class Detector;
class EventStore;
class FrameWriter;
class MainWindow;
class MqttBridge;
class MqttLink;
class Notifier;
class Settings;
class SingleInstance;
class StatusTray;
class EventsWindow;
class Troubles;
class Watcher;

// Tirvel, built whole from its command line: every part, the thread it runs on, and every
// connection between them. This is the one place that knows them all; the program, the in-process
// tests and the watching benchmark build it the same way, so what is tested and measured is what
// ships. Which object runs on which thread is in docs/ARCHITECTURE.md.
class Program
{
public:
    // What a test or a benchmark may put in place of the real thing; each empty means the real one.
    struct Replacements
    {
        std::unique_ptr<CameraBackend> camera;
        Clock clock;
        // Runs on the files' thread before each file is written there.
        std::function<void()> beforeEachWrite;
        std::function<void()> beep;
    };

    // The colour library and the frames are looked for in programDirectory unless the options
    // say otherwise.
    Program(const CommandLine &options, const QString &programDirectory,
        Replacements replacements = {});
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    // Shows the window, and starts watching when asked to, or when it was on as Tirvel last ended.
    void start();
    // Says goodbye to the broker, ends a running command and lets the threads finish what they
    // were asked, each within half a second; false when one would not end and is left running.
    bool end();
    // Brings the window before the person, from wherever it was; false when nobody can see it.
    bool showWindow();
    // Has another start's Show answered with the window.
    void answerOtherStarts(SingleInstance &instance);

    MainWindow &window() { return *m_window; }
    Watcher &watcher() { return *m_watcher; }
    Detector &detector() { return *m_detector; }
    CameraSupervisor &camera() { return *m_camera; }
    Settings &settings() { return *m_settings; }
    // Null without --mqtt.
    MqttLink *link() { return m_link.get(); }

private:
    void buildDetection(const CommandLine &options, const QString &programDirectory);
    void buildCamera(const CommandLine &options, std::unique_ptr<CameraBackend> camera);
    void buildWatching(const CommandLine &options);
    void joinBroker(const CommandLine &options);
    // Watching switched by a person (by says from where): kept for the next start, and asked of
    // the watcher.
    void switchWatching(bool watching, const QString &by, int switches = 1);
    // Opens the mask editor on the camera's latest picture; what it saves is used at once and
    // kept for the next start.
    void editMask();
    void buildTroubles();
    void buildTray();
    // Opens the events window, or brings it forward, on the event of picture when given.
    void showEvents(const QString &picture = {});

    bool m_watchAtStart = false;
    bool m_showEventsAtStart = false;
    QString m_eventFolder;
    Clock m_clock;
    std::function<void()> m_beforeEachWrite;
    // The threads outlive everything that talks to their workers.
    WorkerThread m_detection {QStringLiteral("detection")};
    WorkerThread m_files {QStringLiteral("files")};
    WorkerThread m_notifications {QStringLiteral("notifications")};
    WorkerThread m_cameraFrames {QStringLiteral("camera frames")};
    Detector *m_detector = nullptr;
    FrameWriter *m_writer = nullptr;
    EventStore *m_store = nullptr;
    Notifier *m_notifier = nullptr;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<CameraSupervisor> m_camera;
    std::unique_ptr<AlertSound> m_alert;
    std::unique_ptr<MainWindow> m_window;
    // What the scene rule leaves out; null for nothing.
    QImage m_mask;
    std::unique_ptr<Watcher> m_watcher;
    std::unique_ptr<MqttLink> m_link;
    std::unique_ptr<MqttBridge> m_bridge;
    std::unique_ptr<Troubles> m_troubles;
    // Null where the desktop has no system tray.
    std::unique_ptr<StatusTray> m_tray;
    // Made when first asked for; a child of the window.
    QPointer<EventsWindow> m_events;
};

} // namespace tirvel
