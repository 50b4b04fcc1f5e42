#include "program.h"

#include "alert_sound.h"
#include "camera_supervisor.h"
#include "camera_view.h"
#include "colsum_library.h"
#include "demo_scene_camera.h"
#include "detector.h"
#include "event_store.h"
#include "events_window.h"
#include "frame_files.h"
#include "frame_throttle.h"
#include "frame_writer.h"
#include "home_assistant.h"
#include "logging.h"
#include "main_window.h"
#include "mask_editor.h"
#include "mqtt_bridge.h"
#include "mqtt_link.h"
#include "notifier.h"
#include "qt_camera_backend.h"
#include "settings.h"
#include "single_instance.h"
#include "status_tray.h"
#include "tirvel_error.h"
#include "troubles.h"
#include "watcher.h"
#include "whole_file.h"

#include <QDir>
#include <QGuiApplication>

namespace tirvel {

Program::Program(
    const CommandLine &options, const QString &programDirectory, Replacements replacements)
    : m_watchAtStart(options.watch)
    , m_clock(replacements.clock ? replacements.clock : steadyClock())
    , m_beforeEachWrite(std::move(replacements.beforeEachWrite))
{
    // The choices are written on the files' thread, which keeps them in order with the rest.
    m_settings = std::make_unique<Settings>(options.settingsFile, options.sensitivity, &m_files);
    buildDetection(options, programDirectory);
    buildCamera(options, std::move(replacements.camera));
    std::function<void()> beep = std::move(replacements.beep);
    if (!beep) {
        m_alert = std::make_unique<AlertSound>();
        beep = [alert = m_alert.get()] { alert->play(); };
    }
    m_window = std::make_unique<MainWindow>(m_detector, new CameraView(*m_camera), beep);
    m_window->echoReports(options.watch);
    // The settings hold the one sensitivity: the slider moves it, and follows it.
    m_window->setSensitivity(m_settings->sensitivity());
    QObject::connect(m_window.get(), &MainWindow::sensitivityChanged, m_settings.get(),
        &Settings::setSensitivity);
    QObject::connect(m_settings.get(), &Settings::sensitivityChanged, m_window.get(),
        &MainWindow::setSensitivity);
    if (m_writer != nullptr) {
        QObject::connect(m_writer, &FrameWriter::failed, m_window.get(),
            [window = m_window.get()](const QString &description) {
                window->reportError(int(ErrorNumber::PathAccessError), description);
            });
    }
    buildWatching(options);
    joinBroker(options);
    buildTroubles();
    buildTray();
    m_detection.start();
    m_files.start();
    m_notifications.start();
    m_cameraFrames.start();
}

Program::~Program()
{
    end();
}

void Program::buildDetection(const CommandLine &options, const QString &programDirectory)
{
    // The detector reads and decodes the frame files on a thread of its own, so that a file that
    // is slow, huge or never comes holds up a result, never the window.
    m_detector = m_detection.adopt(new Detector(framePaths(options.frameDirectory),
        programDirectory + QDir::separator() + ColSumLibrary::fileName()));
}

void Program::buildCamera(const CommandLine &options, std::unique_ptr<CameraBackend> camera)
{
    const bool demoScene = options.cameraName == QLatin1String(DEMO_SCENE_ID);
    if (!camera && demoScene)
        camera = std::make_unique<DemoSceneCamera>();
    else if (!camera)
        camera = std::make_unique<QtCameraBackend>();
    // One clock keeps the camera's rate and the writer's in step.
    m_camera = std::make_unique<CameraSupervisor>(std::move(camera), m_clock);
    // Converting and scaling each frame is the costliest work of all; the window never waits on it.
    m_camera->paintOn(m_cameraFrames);
    if (!demoScene)
        m_camera->setCameraName(options.cameraName);
    if (!options.framesFromCamera)
        return;
    // Files are written on a thread of their own, so that a slow disk holds up only the files.
    FrameWriter::Store store
        = [before = m_beforeEachWrite](const QString &path, const QByteArray &bytes) {
              if (before)
                  before();
              return storeWhole(path, bytes);
          };
    m_writer = m_files.adopt(new FrameWriter(options.frameDirectory, m_clock, store));
    // Stamped as it comes, so the writer's rate is the camera's even when the disk lags.
    QObject::connect(m_camera.get(), &CameraSupervisor::pictureChanged, m_camera.get(),
        [writer = m_writer, clock = m_clock](const QImage &picture) {
            QMetaObject::invokeMethod(
                writer, [writer, picture, taken = clock()] { writer->writeTaken(picture, taken); });
        });
}

void Program::editMask()
{
    auto *editor = new MaskEditor(m_camera->frame(), m_mask, m_window.get());
    editor->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(editor, &QDialog::accepted, m_window.get(), [this, editor] {
        m_mask = editor->mask();
        QMetaObject::invokeMethod(
            m_detector, [detector = m_detector, mask = m_mask] { detector->setMask(mask); });
        m_settings->setMask(m_mask);
    });
    editor->open();
}

void Program::buildWatching(const CommandLine &options)
{
    m_store
        = m_files.adopt(new EventStore(options.eventFolder, options.keepEvents, m_beforeEachWrite));
    // A chosen folder needs its parent already; a fresh account may just have no pictures folder.
    if (!options.eventFolderChosen)
        m_store->makeParent();
    constexpr std::uint64_t MEGABYTE = std::uint64_t(1024) * 1024;
    m_store->setKeepBytes(std::uint64_t(options.keepMegabytes) * MEGABYTE);
    if (!options.eventCommand.isEmpty())
        m_store->holdForCommands();
    // Clips come only from the own camera, and only while watching.
    if (options.framesFromCamera) {
        m_store->recordClips(m_clock);
        QObject::connect(m_camera.get(), &CameraSupervisor::frameShown, m_camera.get(),
            [this](const QImage &frame) {
                if (m_store == nullptr || !m_watcher->isWatching())
                    return;
                QMetaObject::invokeMethod(m_store, [store = m_store, frame, shown = m_clock()] {
                    store->cameraFrame(frame, shown);
                });
            });
    }
    // Even reaching the session bus can wait, so notifications go from a thread of their own.
    m_notifier = m_notifications.adopt(new Notifier(QStringLiteral(TIRVEL_APP_ID)));
    // "Visa" on an event's notification opens the events window on it.
    QObject::connect(m_notifier, &Notifier::shown, m_window.get(),
        [this](const QString &picture) { showEvents(picture); });
    QObject::connect(m_notifier, &Notifier::unavailable, [](const QString &why) {
        qCWarning(lcWatch, "desktop notifications cannot be shown (%s); events are still recorded",
            qUtf8Printable(why));
    });

    WatchSettings settings;
    settings.eventGapSeconds = options.eventGapSeconds;
    settings.command = options.eventCommand;
    settings.ownCamera = options.framesFromCamera;
    settings.frames = framePaths(options.frameDirectory);
    settings.cameraLostMs = CameraSupervisor::Timing {}.stallMs;
    m_watcher = std::make_unique<Watcher>(settings, m_clock, *m_store, m_notifier);
    Watcher *watcher = m_watcher.get();
    Detector *detector = m_detector;
    MainWindow *window = m_window.get();

    QObject::connect(detector, &Detector::ticked, watcher, &Watcher::ticked);
    QObject::connect(detector, &Detector::tested, watcher, &Watcher::tested);
    QObject::connect(detector, &Detector::failed, watcher, &Watcher::testFailed);
    QObject::connect(
        watcher, &Watcher::testWanted, watcher, [detector] { detector->requestTest(); });
    QObject::connect(watcher, &Watcher::report, window, &MainWindow::reportError);
    QObject::connect(watcher, &Watcher::noted,
        [](const QString &text) { qCWarning(lcWatch, "%s", qUtf8Printable(text)); });
    m_eventFolder = options.eventFolder;
    m_showEventsAtStart = options.showEvents;
    QObject::connect(window, &MainWindow::eventsRequested, window, [this] { showEvents(); });
    QObject::connect(watcher, &Watcher::recorded, window, [this](const Event &event) {
        // The window lists events by their start and their length.
        if (m_events
            && (event.kind == EventKind::MotionStart || event.kind == EventKind::MotionEnd))
            m_events->refresh();
    });
    QObject::connect(watcher, &Watcher::clipRecorded, window, [this] {
        if (m_events)
            m_events->refresh();
    });
    QObject::connect(
        watcher, &Watcher::waitingForPicture, window, &MainWindow::showWaitingForPicture);
    QObject::connect(window, &MainWindow::watchRequested, watcher,
        [this](bool watching) { switchWatching(watching, QStringLiteral("window")); });
    QObject::connect(watcher, &Watcher::watchingChanged, window, &MainWindow::setWatching);
    // Watching one's own camera decides by the scene rule, which sees every picture; another
    // program's frame files by the steady rule; a click outside watching as it always has.
    const DetectionRule watchingRule = options.detection.value_or(
        options.framesFromCamera ? DetectionRule::Scene : DetectionRule::Steady);
    const auto ruleWhile = [chosen = options.detection, watchingRule](bool watching) {
        return watching ? watchingRule : chosen.value_or(DetectionRule::Classic);
    };
    // Only the scene rule learns from every picture; the others would pass them over, so they are
    // not sent.
    if (watchingRule == DetectionRule::Scene) {
        // A camera of 30 frames a second is analysed about five times a second, a webcam's usual
        // rate: more would cost a core's share for nothing a person could see. The interval is a
        // little short of 200 ms so that a camera of five a second keeps all its frames, early
        // ones too.
        auto analysisRate = std::make_shared<FrameThrottle>();
        analysisRate->setInterval(FIVE_A_SECOND_MS * 3 / 4);
        QObject::connect(m_camera.get(), &CameraSupervisor::frameShown, m_camera.get(),
            [detector, clock = m_clock, analysisRate](const QImage &frame, const QImage &picture) {
                const qint64 now = clock();
                if (analysisRate->admit(now))
                    detector->requestAnalysis(frame, picture, now);
            });
        m_mask = options.mask;
        if (!m_mask.isNull())
            QMetaObject::invokeMethod(
                detector, [detector, mask = m_mask] { detector->setMask(mask); });
        window->setMaskable(true);
        QObject::connect(window, &MainWindow::maskRequested, window, [this] { editMask(); });
    }
    QMetaObject::invokeMethod(
        detector, [detector, rule = ruleWhile(false)] { detector->setRule(rule); });
    QObject::connect(
        watcher, &Watcher::watchingChanged, detector, [detector, ruleWhile](bool watching) {
            detector->setRule(ruleWhile(watching));
            if (watching)
                detector->startTicks();
        });
    window->setWatchingRule(ruleWhile(true));
    QObject::connect(
        m_camera.get(), &CameraSupervisor::statusChanged, watcher, [watcher](CameraStatus status) {
            watcher->cameraShowingChanged(status == CameraStatus::Showing);
        });
    watcher->cameraShowingChanged(m_camera->status() == CameraStatus::Showing);
    if (m_writer != nullptr) {
        QObject::connect(
            watcher, &Watcher::watchingChanged, m_writer, &FrameWriter::setTimedFramesFromTests);
        QObject::connect(watcher, &Watcher::timedFrameDue, m_writer, &FrameWriter::writeTimedFrame);
    }
}

// With --mqtt, the watcher's events go to the broker too; its connection is made away from the
// window's thread.
void Program::joinBroker(const CommandLine &options)
{
    if (!options.mqtt)
        return;
    MqttLink::Settings settings;
    settings.target = *options.mqtt;
    settings.clientId = QStringLiteral("tirvel-") + options.mqttName;
    settings.password = options.mqttPassword;
    settings.caFile = options.mqttCaFile;
    settings.willTopic = tirvelTopic(options.mqttName, QStringLiteral("status"));
    settings.willPayload = QByteArrayLiteral("offline");
    m_link = std::make_unique<MqttLink>(settings);
    m_bridge = std::make_unique<MqttBridge>(*m_link,
        MqttBridge::Settings {options.mqttName, options.mqttDiscoveryPrefix,
            QStringLiteral(TIRVEL_VERSION), options.mqtt->address(), settings.longestRetryMs});
    MqttBridge *bridge = m_bridge.get();
    Watcher *watcher = m_watcher.get();
    QObject::connect(bridge, &MqttBridge::messageForPerson,
        [](const QString &text) { qCInfo(lcMqtt, "MQTT: %s", qUtf8Printable(text)); });
    // Watching is the watcher's: the broker asks it, hears what it decided and logs through it.
    QObject::connect(watcher, &Watcher::recorded, bridge, &MqttBridge::eventRecorded);
    QObject::connect(watcher, &Watcher::watchingChanged, bridge, &MqttBridge::watchingChanged);
    bridge->watchingChanged(watcher->isWatching());
    QObject::connect(
        bridge, &MqttBridge::watchRequested, watcher, [this](bool watching, int switches) {
            switchWatching(watching, QStringLiteral("broker"), switches);
        });
    QObject::connect(bridge, &MqttBridge::linkEvent, watcher, &Watcher::recordNote);
    // The broker moves the one sensitivity, and hears where it is.
    m_bridge->setSensitivity(m_settings->sensitivity());
    QObject::connect(
        m_settings.get(), &Settings::sensitivityChanged, bridge, &MqttBridge::setSensitivity);
    QObject::connect(
        bridge, &MqttBridge::sensitivityRequested, m_settings.get(), &Settings::setSensitivity);
    // The camera is said from its first picture, not before.
    if (options.framesFromCamera) {
        QObject::connect(m_camera.get(), &CameraSupervisor::statusChanged, bridge,
            [bridge](CameraStatus status) {
                if (status == CameraStatus::Showing)
                    bridge->pictureSeen();
            });
        if (m_camera->status() == CameraStatus::Showing)
            bridge->pictureSeen();
    } else {
        QObject::connect(m_detector, &Detector::tested, bridge, &MqttBridge::pictureSeen);
    }
    if (const auto problem = m_link->start())
        qCWarning(lcMqtt, "MQTT: %s; Tirvel goes on without the broker", qUtf8Printable(*problem));
}

void Program::switchWatching(bool watching, const QString &by, int switches)
{
    m_settings->setWatching(watching);
    m_watcher->setWatching(watching, by, switches);
}

// What keeps watching from working reaches the person as one notification, not only standard
// error and the log, which somebody who started Tirvel from the menu never sees.
void Program::buildTroubles()
{
    m_troubles = std::make_unique<Troubles>();
    Troubles *troubles = m_troubles.get();
    QObject::connect(m_watcher.get(), &Watcher::blindChanged, troubles,
        [troubles](bool cameraLost, bool framesStale) {
            troubles->set(Troubles::Kind::CameraLost, cameraLost);
            troubles->set(Troubles::Kind::FramesStale, framesStale);
        });
    QObject::connect(m_watcher.get(), &Watcher::eventFolderChanged, troubles,
        [troubles](bool writable, const QString &why) {
            troubles->set(Troubles::Kind::EventFolder, !writable, why);
        });
    if (m_bridge) {
        QObject::connect(m_bridge.get(), &MqttBridge::linkChanged, troubles,
            [troubles](LinkState state, const QString &why) {
                if (state == LinkState::Connected)
                    troubles->brokerConnected();
                else
                    troubles->brokerDown(why, state == LinkState::Refused);
            });
    }
    // Queued to the notifier's thread.
    QObject::connect(troubles, &Troubles::arose, m_notifier,
        [notifier = m_notifier](
            const QString &summary, const QString &body) { notifier->notify(summary, body); });
}

// Where the desktop has a system tray, Tirvel's state is shown there, and closing the window
// while watching only hides it.
void Program::buildTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = std::make_unique<StatusTray>(*m_window, QGuiApplication::windowIcon());
    StatusTray *tray = m_tray.get();
    Watcher *watcher = m_watcher.get();
    MainWindow *window = m_window.get();
    QObject::connect(tray, &StatusTray::watchRequested, watcher,
        [this](bool watching) { switchWatching(watching, QStringLiteral("tray")); });
    QObject::connect(tray, &StatusTray::quitRequested, window, &MainWindow::exitProgram);
    QObject::connect(tray, &StatusTray::eventsRequested, window, [this] { showEvents(); });
    QObject::connect(watcher, &Watcher::watchingChanged, tray, [tray, window](bool watching) {
        tray->setWatching(watching);
        window->setClosingHides(watching);
    });
    QObject::connect(watcher, &Watcher::motionChanged, tray, &StatusTray::setMotion);
    QObject::connect(m_troubles.get(), &Troubles::changed, tray, &StatusTray::setTroubles);
    QObject::connect(window, &MainWindow::hiddenOnClose, tray, &StatusTray::windowHidden);
    QObject::connect(m_detector, &Detector::tested, tray, [tray](const TestResult &result) {
        tray->setLastTest(
            result.count, result.explanation.value(QStringLiteral("threshold")).toInt());
    });
}

void Program::showEvents(const QString &picture)
{
    if (!m_events) {
        m_events = new EventsWindow(m_eventFolder, m_window.get());
        m_events->setAttribute(Qt::WA_DeleteOnClose);
        // The files are the store's, on its thread; the window sees them gone in the log.
        QObject::connect(m_events, &EventsWindow::deleteRequested, m_store,
            [store = m_store](const QStringList &pictures) { store->forget(pictures); });
        QObject::connect(
            m_store, &EventStore::forgotten, m_events, [events = m_events] { events->refresh(); });
    } else {
        m_events->refresh();
    }
    if (!picture.isEmpty())
        m_events->choose(picture);
    m_events->show();
    m_events->raise();
    m_events->activateWindow();
}

void Program::start()
{
    m_window->show();
    if (m_showEventsAtStart)
        showEvents();
    // --watch holds for its run only, so it is not kept.
    if (m_watchAtStart)
        m_watcher->setWatching(true, QStringLiteral("start"));
    else if (m_settings->watching())
        m_watcher->setWatching(true, QStringLiteral("restored"));
}

bool Program::showWindow()
{
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    // The user service runs offscreen.
    const QString platform = QGuiApplication::platformName();
    return m_window->isVisible() && platform != QLatin1String("offscreen")
        && platform != QLatin1String("minimal");
}

void Program::answerOtherStarts(SingleInstance &instance)
{
    instance.setShowWindow([this] { return showWindow(); });
    // The events window stands on the window, which is shown first.
    instance.setShowEvents([this] {
        const bool seen = showWindow();
        showEvents();
        return seen;
    });
}

bool Program::end()
{
    // The event's end goes to the log, and motion OFF to the broker, before offline.
    if (m_watcher)
        m_watcher->endEvent();
    if (m_bridge)
        m_bridge->finish();
    m_bridge.reset();
    bool ended = !m_link || m_link->end();
    m_link.reset();
    if (m_watcher)
        m_watcher->endCommand();
    // The clip of the event just ended, whole, if it can be in time.
    if (m_store != nullptr) {
        QMetaObject::invokeMethod(
            m_store, [store = m_store] { store->finishClips(WorkerThread::END_WAIT_MS / 2); });
    }
    if (m_detector != nullptr)
        m_detector->endAnalyses();
    // The files first, so that the last event is written while the rest ends.
    ended = m_files.stop() && ended;
    // Gone with its thread.
    m_store = nullptr;
    ended = m_detection.stop() && ended;
    // Gone with its thread; a second end() must not reach it.
    m_detector = nullptr;
    ended = m_cameraFrames.stop() && ended;
    return m_notifications.stop() && ended;
}

} // namespace tirvel
