#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tirvel {

namespace {

CommandLine failure(const QString &message)
{
    CommandLine failed;
    failed.action = CommandLine::Action::Fail;
    failed.message = message;
    return failed;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments, const QString &programDirectory)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches a scene through a camera and tells when something has changed."));
    const QCommandLineOption help = parser.addHelpOption();
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
                       "\"test-scene\" is a built-in moving scene."),
        QStringLiteral("name"));
    const QCommandLineOption listCameras(
        QStringLiteral("list-cameras"), QStringLiteral("List the cameras and exit."));
    parser.addOptions({framesFromCamera, directory, camera, listCameras});

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

    result.framesFromCamera = parser.isSet(framesFromCamera);
    result.cameraName = parser.value(camera);
    if (parser.isSet(camera) && result.cameraName.isEmpty())
        return failure(QStringLiteral("The camera name is empty."));

    if (parser.isSet(directory)) {
        const QFileInfo chosen(parser.value(directory));
        if (!chosen.exists())
            return failure(
                QStringLiteral("The directory '%1' does not exist.").arg(chosen.filePath()));
        if (!chosen.isDir())
            return failure(QStringLiteral("'%1' is not a directory.").arg(chosen.filePath()));
        result.frameDirectory = QDir::toNativeSeparators(chosen.absoluteFilePath());
    } else if (result.framesFromCamera) {
        const QString runtimeDirectory
            = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        const QString frames = QDir(runtimeDirectory).filePath(QStringLiteral("tirvel"));
        if (runtimeDirectory.isEmpty() || !QDir().mkpath(frames))
            return failure(QStringLiteral("Cannot make the frame directory '%1'.").arg(frames));
        result.frameDirectory = QDir::toNativeSeparators(frames);
    } else {
        result.frameDirectory = programDirectory;
    }
    return result;
}

} // namespace tirvel
