#include "camera_facts.h"
#include "command_line.h"
#include "folders.h"
#include "logging.h"
#include "main_window.h"
#include "program.h"
#include "qt_camera_backend.h"
#include "settings.h"
#include "single_instance.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

using namespace tirvel;

namespace {

int g_signalSocket[2] = {-1, -1};

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
void exitOnTerminationSignals(MainWindow &window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalSocket) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        if (::read(g_signalSocket[1], &byte, 1) == 1)
            window.exitProgram();
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
        // What was kept from earlier runs goes first, so that the command line wins.
        const QString programDirectory
            = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
        const QString kept = settingsFile();
        const SavedSettings saved = readSettings(kept, programDirectory);
        options = parseCommandLine(
            withKeptOptions(QCoreApplication::arguments(), saved), programDirectory);
        options.settingsFile = kept;
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
        for (const QString &problem : saved.problems)
            std::fprintf(stderr, "tirvel: %s\n", qPrintable(problem));
        if (const auto problem = prepareFolders(options)) {
            std::fprintf(stderr, "tirvel: %s\n", qPrintable(*problem));
            return 2;
        }
    }

    QApplication app(argc, argv);
    installMessageFormat();
    setApplicationFacts();
    // Two Tirvels would share the frame files and write one event log between them.
    SingleInstance instance(
        SingleInstance::serviceName(options.frameDirectory, options.eventFolder));
    if (const auto taken = instance.claim(options.showEvents)) {
        std::fprintf(stderr, "tirvel: %s\n", qPrintable(taken->message));
        return taken->status;
    }
    // The desktop finds the window's menu entry, and so its icon and name, by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(TIRVEL_APP_ID));
    QIcon icon(QStringLiteral(":/icons/48.png"));
    icon.addFile(QStringLiteral(":/icons/256.png"));
    QApplication::setWindowIcon(icon);

    int status = 0;
    bool ended = true;
    {
        Program program(options, QDir::toNativeSeparators(QApplication::applicationDirPath()));
        exitOnTerminationSignals(program.window());
        // Qt ends the program as its last window closes, but not one that was hidden before.
        QObject::connect(
            &program.window(), &MainWindow::closed, &app, [] { QApplication::exit(0); });
        program.answerOtherStarts(instance);
        program.start();
        status = QApplication::exec();
        ended = program.end();
    }
    // A frame file that hangs (a stalled network folder, say) leaves a worker stuck in a call
    // that nothing can interrupt; the program ends all the same, and promptly.
    if (!ended) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
