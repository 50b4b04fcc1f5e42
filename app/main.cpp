#include "alert_sound.h"
#include "camera_supervisor.h"
#include "camera_view.h"
#include "colsum_library.h"
#include "command_line.h"
#include "demo_scene_camera.h"
#include "detector.h"
#include "frame_writer.h"
#include "home_assistant.h"
#include "main_window.h"
#include "mqtt_bridge.h"
#include "mqtt_link.h"
#include "qt_camera_backend.h"
#include "tirvel_error.h"
#include "watch_wiring.h"
#include "watcher.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

using namespace tirvel;

namespace {

int g_signalSocket[2] = {-1, -1};

// How long an ending program waits for the detector to finish what it does.
constexpr int EXIT_WAIT_MS = 500;

// GStreamer's device monitor, which Qt 6.4 runs over every kind of device, frees memory still in
// use when an audio device goes; the camera needs none of them.
void keepAudioDeviceProvidersOut()
{
    QByteArray ranks = qgetenv("GST_PLUGIN_FEATURE_RANK");
    if (!ranks.isEmpty())
        ranks += ',';
    ranks += "pulsedeviceprovider:NONE,pipewiredeviceprovider:NONE";
    qputenv("GST_PLUGIN_FEATURE_RANK", ranks);
}

void setApplicationFacts()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tirvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TIRVEL_VERSION));
}

int listCameras()
{
    // Qt Multimedia talks of the sound system it looks for; here only the list is wanted.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &) {
        if (type == QtFatalMsg)
            std::abort();
    });
    const QtCameraBackend cameras;
    for (const CameraDevice &device : cameras.devices())
        std::printf("%s\t%s\n", qPrintable(device.id), qPrintable(device.description));
    std::printf("%s\t%s\n", DEMO_SCENE_ID, "Built-in moving test scene");
    return 0;
}

// A terminal's Ctrl+C or its closing, or a service manager's stop, ends the program the way Exit
// does, so the camera is let go and no half-written frame is left behind. The handler only writes a
// byte; the event loop does the rest.
void closeOnTerminationSignals(QWidget &window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalSocket) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        if (::read(g_signalSocket[1], &byte, 1) == 1)
            window.close();
    });
    struct sigaction action
    {
    };
    action.sa_handler = [](int) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(g_signalSocket[0], &byte, 1);
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// With --mqtt, the watcher's events go to the broker too; its connection is made away from the
// window's thread.
std::pair<std::unique_ptr<MqttLink>, std::unique_ptr<MqttBridge>> joinBroker(
    const CommandLine &options, Watcher &watcher, MainWindow &window)
{
    if (!options.mqtt)
        return {};
    MqttLink::Settings settings;
    settings.target = *options.mqtt;
    settings.clientId = QStringLiteral("tirvel-") + options.mqttName;
    settings.password = options.mqttPassword.isEmpty()
        ? qEnvironmentVariable("TIRVEL_MQTT_PASSWORD")
        : options.mqttPassword;
    settings.caFile = options.mqttCaFile;
    settings.willTopic = tirvelTopic(options.mqttName, QStringLiteral("status"));
    settings.willPayload = QByteArrayLiteral("offline");
    auto link = std::make_unique<MqttLink>(settings);
    auto bridge = std::make_unique<MqttBridge>(*link, watcher,
        MqttBridge::Settings {options.mqttName, options.mqttDiscoveryPrefix,
            QStringLiteral(TIRVEL_VERSION), options.eventFolder});
    QObject::connect(
        bridge.get(), &MqttBridge::problem, &window, [&window](const QString &description) {
            window.reportError(int(ErrorNumber::PathAccessError), description);
        });
    QObject::connect(bridge.get(), &MqttBridge::note,
        [](const QString &text) { std::fprintf(stderr, "tirvel: MQTT: %s\n", qPrintable(text)); });
    link->start();
    return {std::move(link), std::move(bridge)};
}

} // namespace

int main(int argc, char *argv[])
{
    keepAudioDeviceProvidersOut();
    // Qt 6.4 converts each camera frame on the GPU and reads it back when OpenGL is at hand,
    // which costs several times the CPU path for a picture this small.
    QApplication::setAttribute(Qt::AA_ForceRasterWidgets);

    // Read before any window system is touched, so that --help works over a plain terminal.
    CommandLine options;
    {
        const QCoreApplication core(argc, argv);
        setApplicationFacts();
        if (const auto problem = findNonUtf8Argument(argc, argv)) {
            std::fprintf(stderr, "tirvel: %s\n", qPrintable(*problem));
            return 2;
        }
        options = parseCommandLine(QCoreApplication::arguments(),
            QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
        switch (options.action) {
        case CommandLine::Action::ShowHelp:
        case CommandLine::Action::ShowVersion:
            std::fputs(qPrintable(options.message), stdout);
            return 0;
        case CommandLine::Action::Fail:
            std::fprintf(stderr, "tirvel: %s\n", qPrintable(options.message));
            return 2;
        case CommandLine::Action::ListCameras:
            return listCameras();
        case CommandLine::Action::Run:
            break;
        }
    }

    QApplication app(argc, argv);
    setApplicationFacts();
    // The desktop finds the window's menu entry, and so its icon and name, by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(TIRVEL_APP_ID));
    QIcon icon(QStringLiteral(":/icons/48.png"));
    icon.addFile(QStringLiteral(":/icons/256.png"));
    QApplication::setWindowIcon(icon);

    const bool demoScene = options.cameraName == QLatin1String(DEMO_SCENE_ID);
    std::unique_ptr<CameraBackend> backend;
    if (demoScene)
        backend = std::make_unique<DemoSceneCamera>();
    else
        backend = std::make_unique<QtCameraBackend>();

    // The detector reads and decodes the frame files on a thread of its own, so that a file that
    // is slow, huge or never comes holds up a result, never the window.
    QThread detection;
    detection.setObjectName(QStringLiteral("detection"));
    const QString programDirectory = QDir::toNativeSeparators(QApplication::applicationDirPath());
    auto *detector = new Detector(
        options.frameDirectory, programDirectory + QDir::separator() + ColSumLibrary::fileName());
    detector->moveToThread(&detection);
    QObject::connect(&detection, &QThread::finished, detector, &QObject::deleteLater);
    detection.start();

    int status = 0;
    {
        // One clock keeps the camera's rate and the writer's in step.
        const Clock clock = steadyClock();
        CameraSupervisor camera(std::move(backend), clock);
        if (!demoScene)
            camera.setCameraName(options.cameraName);
        AlertSound alert;
        MainWindow window(detector, new CameraView(camera), [&alert] { alert.play(); });

        std::unique_ptr<FrameWriter> writer;
        if (options.framesFromCamera) {
            writer = std::make_unique<FrameWriter>(options.frameDirectory, clock);
            QObject::connect(
                &camera, &CameraSupervisor::pictureChanged, writer.get(), &FrameWriter::write);
            QObject::connect(
                writer.get(), &FrameWriter::failed, &window, [&window](const QString &description) {
                    window.reportError(int(ErrorNumber::PathAccessError), description);
                });
        }
        WatchSettings settings;
        settings.eventFolder = options.eventFolder;
        settings.eventGapSeconds = options.eventGapSeconds;
        settings.keepEvents = options.keepEvents;
        settings.command = options.eventCommand;
        settings.ownCamera = options.framesFromCamera;
        settings.desktopId = QStringLiteral(TIRVEL_APP_ID);
        settings.cameraLostMs = CameraSupervisor::Timing {}.stallMs;
        Watcher watcher(settings, clock);
        watchOver(watcher, *detector, camera, window, writer.get());
        window.echoReports(options.watch);
        const auto [link, bridge] = joinBroker(options, watcher, window);
        if (options.watch)
            watcher.setWatching(true);

        closeOnTerminationSignals(window);
        window.show();
        status = QApplication::exec();
        if (bridge)
            bridge->finish();
    }
    detection.quit();
    // A frame file that hangs (a stalled network folder, say) leaves the detector stuck in a
    // read that nothing can interrupt; the program ends all the same, and promptly.
    if (!detection.wait(QDeadlineTimer(EXIT_WAIT_MS))) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
