#include "command_line.h"

#include "camera_facts.h"
#include "detection_options.h"
#include "mqtt_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>

namespace tirvel {

namespace {

CommandLine failure(const QString &message)
{
    CommandLine failed;
    failed.action = CommandLine::Action::Fail;
    failed.message = message;
    return failed;
}

struct WatchOptions
{
    QCommandLineOption watch {QStringLiteral("watch"),
        QStringLiteral("Watch: test by itself once a second and record every event.")};
    QCommandLineOption showEvents {QStringLiteral("show-events"),
        QStringLiteral("Open the window of the events kept in the event folder at start, or "
                       "that of the Tirvel already running on the same folders.")};
    QCommandLineOption events {QStringLiteral("events"),
        QStringLiteral("Keep the pictures and the log of events in <dir> (default: a Tirvel "
                       "folder in your pictures folder)."),
        QStringLiteral("dir")};
    QCommandLineOption gap {QStringLiteral("event-gap"),
        QStringLiteral("An event ends when <seconds> pass without a detection (1 to 3600, "
                       "default %1).")
            .arg(CommandLine::DEFAULT_EVENT_GAP_SECONDS),
        QStringLiteral("seconds"), QString::number(CommandLine::DEFAULT_EVENT_GAP_SECONDS)};
    QCommandLineOption keep {QStringLiteral("keep-events"),
        QStringLiteral("Keep the pictures of the newest <n> events (1 to 100000, default %1).")
            .arg(CommandLine::DEFAULT_KEEP_EVENTS),
        QStringLiteral("n"), QString::number(CommandLine::DEFAULT_KEEP_EVENTS)};
    QCommandLineOption keepMegabytes {QStringLiteral("keep-megabytes"),
        QStringLiteral("Keep the pictures of events within <n> MB, the oldest going first (1 to "
                       "10000000, default %1).")
            .arg(CommandLine::DEFAULT_KEEP_MEGABYTES),
        QStringLiteral("n"), QString::number(CommandLine::DEFAULT_KEEP_MEGABYTES)};
    QCommandLineOption command {QStringLiteral("on-event"),
        QStringLiteral("Run <command> at each event, never through a shell: spaces separate its "
                       "words and double quotes group them. TIRVEL_EVENT, TIRVEL_TIME, "
                       "TIRVEL_COUNT, TIRVEL_PICTURE and TIRVEL_SNAPSHOT tell what happened."),
        QStringLiteral("command")};
};

WatchOptions addWatchOptions(QCommandLineParser &parser)
{
    WatchOptions options;
    parser.addOptions({options.watch, options.showEvents, options.events, options.gap, options.keep,
        options.keepMegabytes, options.command});
    return options;
}

std::optional<int> wholeNumber(const QString &text, int least, int most)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < least || number > most)
        return std::nullopt;
    return number;
}

std::optional<QString> readWatchOptions(
    const QCommandLineParser &parser, const WatchOptions &options, CommandLine &result)
{
    result.watch = parser.isSet(options.watch);
    result.showEvents = parser.isSet(options.showEvents);
    const auto gap = wholeNumber(parser.value(options.gap), 1, 3600);
    if (!gap)
        return QStringLiteral("--event-gap takes whole seconds from 1 to 3600, not '%1'.")
            .arg(parser.value(options.gap));
    result.eventGapSeconds = *gap;
    const auto keep = wholeNumber(parser.value(options.keep), 1, 100000);
    if (!keep)
        return QStringLiteral("--keep-events takes a number from 1 to 100000, not '%1'.")
            .arg(parser.value(options.keep));
    result.keepEvents = *keep;
    const auto megabytes = wholeNumber(parser.value(options.keepMegabytes), 1, 10000000);
    if (!megabytes)
        return QStringLiteral("--keep-megabytes takes a number from 1 to 10000000, not '%1'.")
            .arg(parser.value(options.keepMegabytes));
    result.keepMegabytes = *megabytes;

    if (parser.isSet(options.command)) {
        result.eventCommand = QProcess::splitCommand(parser.value(options.command));
        if (result.eventCommand.isEmpty())
            return QStringLiteral("The command of --on-event is empty.");
        const QString program = result.eventCommand.constFirst();
        const QFileInfo file(
            program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program));
        if (!file.isFile() || !file.isExecutable())
            return QStringLiteral(
                "The command '%1' of --on-event is not a program that can be run.")
                .arg(program);
    }

    result.eventFolderChosen = parser.isSet(options.events);
    result.eventFolder = result.eventFolderChosen
        ? parser.value(options.events)
        : QDir(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation))
              .filePath(QStringLiteral("Tirvel"));
    if (result.eventFolder.isEmpty())
        return QStringLiteral("The event folder is empty.");
    result.eventFolder = QDir::toNativeSeparators(QFileInfo(result.eventFolder).absoluteFilePath());
    return std::nullopt;
}

} // namespace

std::optional<QString> findNonUtf8Argument(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8(QByteArrayView(argv[i]));
        if (utf8.hasError())
            return QStringLiteral("'%1' is not valid UTF-8; names must be.").arg(decoded);
    }
    return std::nullopt;
}

CommandLine parseCommandLine(const QStringList &arguments, const QString &programDirectory)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches a scene through a camera and tells when something has changed."));
    // Not addHelpOption(): its --help-all would offer Qt's own options, which are not taken.
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption framesFromCamera(QStringLiteral("frames-from-camera"),
        QStringLiteral("Write the live picture into 6.bmp (up to five times a second) and 5.bmp "
                       "(once a second)."));
    const QCommandLineOption directory(QStringLiteral("directory"),
        QStringLiteral("Read and write 5.bmp and 6.bmp in <dir> (default: beside the program, or "
                       "with --frames-from-camera $XDG_RUNTIME_DIR/tirvel)."),
        QStringLiteral("dir"));
    const QCommandLineOption camera(QStringLiteral("camera"),
        QStringLiteral("Use the first camera whose id or description contains <name>; "
                       "\"test-scene\" is a built-in moving scene, whose pictures are written as "
                       "with --frames-from-camera."),
        QStringLiteral("name"));
    const QCommandLineOption listCameras(
        QStringLiteral("list-cameras"), QStringLiteral("List the cameras and exit."));
    parser.addOptions({framesFromCamera, directory, camera, listCameras});
    const DetectionOptions detectionOptions = addDetectionOptions(parser);
    const WatchOptions watchOptions = addWatchOptions(parser);
    const MqttOptions mqttOptions = addMqttOptions(parser);

    if (!parser.parse(arguments))
        return failure(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("Unexpected argument '%1'.")
                           .arg(parser.positionalArguments().constFirst()));

    CommandLine result;
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::ShowHelp;
        result.message = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::ShowVersion;
        result.message = QCoreApplication::applicationName() + QLatin1Char(' ')
            + QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return result;
    }
    if (parser.isSet(listCameras)) {
        result.action = CommandLine::Action::ListCameras;
        return result;
    }

    result.cameraName = parser.value(camera);
    if (parser.isSet(camera) && result.cameraName.isEmpty())
        return failure(QStringLiteral("The camera name is empty."));
    // The built-in scene is only worth choosing to test what it films.
    result.framesFromCamera
        = parser.isSet(framesFromCamera) || result.cameraName == QLatin1String(DEMO_SCENE_ID);

    if (parser.isSet(directory)) {
        const QFileInfo chosen(parser.value(directory));
        if (!chosen.exists())
            return failure(
                QStringLiteral("The directory '%1' does not exist.").arg(chosen.filePath()));
        if (!chosen.isDir())
            return failure(QStringLiteral("'%1' is not a directory.").arg(chosen.filePath()));
        result.frameDirectory = QDir::toNativeSeparators(chosen.absoluteFilePath());
    } else if (!result.framesFromCamera) {
        result.frameDirectory = programDirectory;
    }
    if (const auto problem = readDetectionOptions(parser, detectionOptions, result))
        return failure(*problem);
    if (const auto problem = readWatchOptions(parser, watchOptions, result))
        return failure(*problem);
    if (const auto problem = readMqttOptions(parser, mqttOptions, result))
        return failure(*problem);
    return result;
}

} // namespace tirvel
