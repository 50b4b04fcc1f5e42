#include "folders.h"

#include "private_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tirvel {

namespace {

const QString FRAME_FOLDER = QStringLiteral("frame folder");

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

std::optional<QString> prepareFrameFolder(CommandLine &options)
{
    if (!options.frameDirectory.isEmpty())
        return claimPrivateFolder(FRAME_FOLDER, options.frameDirectory, false);
    QString whyNot;
    const QString runtimeDirectory = runtimeLocation(whyNot);
    if (runtimeDirectory.isEmpty())
        return QStringLiteral("No runtime folder for the frames: %1")
            .arg(whyNot.isEmpty() ? QStringLiteral("XDG_RUNTIME_DIR is not set.") : whyNot);
    const QString frames = QDir(runtimeDirectory).filePath(QStringLiteral("tirvel"));
    if (auto problem = claimPrivateFolder(FRAME_FOLDER, frames, true))
        return problem;
    options.frameDirectory = QDir::toNativeSeparators(frames);
    return std::nullopt;
}

} // namespace

std::optional<QString> prepareFolders(CommandLine &options)
{
    if (options.framesFromCamera) {
        if (auto problem = prepareFrameFolder(options))
            return problem;
    }
    if (!options.watch)
        return std::nullopt;
    // The pictures folder itself may not be there yet; the event folder is made by claiming it.
    if (!options.eventFolderChosen)
        QDir().mkpath(QFileInfo(options.eventFolder).path());
    return claimPrivateFolder(QStringLiteral("event folder"), options.eventFolder, true);
}

} // namespace tirvel
