#include "event_log.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tirvel {

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

EventLog::EventLog(const QString &folder)
    : m_path(QDir(folder).filePath(QStringLiteral("events.jsonl")))
{
}

QString EventLog::append(const QJsonObject &record)
{
    const QByteArray name = QFile::encodeName(m_path);
    struct stat status = {};
    if (::lstat(name.constData(), &status) == 0 && S_ISREG(status.st_mode)
        && status.st_size >= ROTATE_BYTES
        && ::rename(name.constData(), QFile::encodeName(m_path + QStringLiteral(".1")).constData())
            != 0)
        return systemError();

    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
        S_IRUSR | S_IWUSR);
    if (fd < 0)
        return systemError();
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    QString problem;
    struct stat before = {};
    ::fstat(fd, &before);
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    if (written != line.size()) {
        problem = written < 0 ? systemError() : QStringLiteral("the disk is full");
        // Half a line would spoil the next one as well.
        if (written > 0 && ::ftruncate(fd, before.st_size) != 0)
            problem += QStringLiteral(", and the half line stays: ") + systemError();
    } else if (::fdatasync(fd) != 0) {
        problem = systemError();
    }
    ::close(fd);
    return problem;
}

} // namespace tirvel
