#include "command_line.h"

#include "private_folder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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

QStringList *g_qtWarnings = nullptr;

// Qt tells why it refuses the runtime folder only as a warning.
QString runtimeLocation(QString &whyNot)
{
    QStringList warnings;
    g_qtWarnings = &warnings;
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
              g_qtWarnings->append(message);
          });
    QString location = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    qInstallMessageHandler(previous);
    g_qtWarnings = nullptr;
    whyNot = warnings.join(QStringLiteral("; "));
    return location;
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
        if (result.framesFromCamera) {
            if (const auto problem = claimPrivateFolder(result.frameDirectory, false))
                return failure(*problem);
        }
    } else if (result.framesFromCamera) {
        QString whyNot;
        const QString runtimeDirectory = runtimeLocation(whyNot);
        if (runtimeDirectory.isEmpty())
            return failure(QStringLiteral("No runtime folder for the frames: %1")
                               .arg(whyNot.isEmpty() ? QStringLiteral("XDG_RUNTIME_DIR is not set.")
                                                     : whyNot));
        const QString frames = QDir(runtimeDirectory).filePath(QStringLiteral("tirvel"));
        if (const auto problem = claimPrivateFolder(frames, true))
            return failure(*problem);
        result.frameDirectory = QDir::toNativeSeparators(frames);
    } else {
        result.frameDirectory = programDirectory;
    }
    return result;
}

} // namespace tirvel
