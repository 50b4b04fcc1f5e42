#include "event_pictures.h"

#include "frame_writer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QRegularExpression>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace tirvel {

namespace {

constexpr int SPACING = 4;
const QRegularExpression NAME(QStringLiteral("^(\\d{8}T\\d{6}Z)(?:-(\\d+))?\\.png$"));

} // namespace

EventPictures::EventPictures(const QString &folder, int keep)
    : m_folder(folder)
    , m_keep(keep)
{
}

QImage EventPictures::compose(const QImage &timed, const QImage &marked)
{
    QImage picture(timed.width() + SPACING + marked.width(),
        std::max(timed.height(), marked.height()), QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    painter.drawImage(0, 0, timed);
    painter.drawImage(timed.width() + SPACING, 0, marked);
    return picture;
}

QByteArray EventPictures::encode(const QImage &timed, const QImage &marked)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    compose(timed, marked).save(&buffer, "PNG");
    return bytes;
}

QString EventPictures::save(const QByteArray &png, const QDateTime &time, QString &problem)
{
    const QString stem = time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString name = stem + QStringLiteral(".png");
    const QDir folder(m_folder);
    for (int suffix = 2;
         QFileInfo::exists(folder.filePath(name)) || QFileInfo(folder.filePath(name)).isSymLink();
         ++suffix)
        name = QStringLiteral("%1-%2.png").arg(stem).arg(suffix);
    problem = FrameWriter::storeWhole(folder.filePath(name), png, FrameWriter::Durable::Yes);
    if (!problem.isEmpty())
        return {};
    prune();
    return name;
}

void EventPictures::prune()
{
    QStringList pictures
        = QDir(m_folder).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    pictures.removeIf([&](const QString &name) {
        struct stat status = {};
        return !NAME.match(name).hasMatch()
            || ::lstat(QFile::encodeName(QDir(m_folder).filePath(name)).constData(), &status) != 0
            || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid();
    });
    // By time, and within a second by the number that follows it.
    const auto key = [](const QString &name) {
        const QRegularExpressionMatch match = NAME.match(name);
        return std::make_pair(match.captured(1), std::max(1, match.captured(2).toInt()));
    };
    std::sort(pictures.begin(), pictures.end(),
        [&](const QString &a, const QString &b) { return key(a) < key(b); });
    for (qsizetype i = 0; i + m_keep < pictures.size(); ++i)
        QFile::remove(QDir(m_folder).filePath(pictures.at(i)));
}

} // namespace tirvel
