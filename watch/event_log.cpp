#include "event_log.h"

#include "event_folder.h"
#include "report_once.h"
#include "system_error.h"

#include <QJsonDocument>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tirvel {

EventLog::EventLog(EventFolder &folder, ReportOnce &reports)
    : m_folder(folder)
    , m_reports(reports)
{
}

std::optional<QString> EventLog::unendedSince() const
{
    // The last lines are enough: an event's end comes soon after its start.
    constexpr off_t TAIL_BYTES = off_t(64) * 1024;
    const int log
        = ::openat(m_folder.descriptor(), NAME, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (log < 0)
        return std::nullopt;
    struct stat status = {};
    QByteArray tail;
    if (::fstat(log, &status) == 0 && S_ISREG(status.st_mode)) {
        const off_t from = std::max<off_t>(0, status.st_size - TAIL_BYTES);
        tail.resize(qsizetype(status.st_size - from));
        const ssize_t read = ::pread(log, tail.data(), size_t(tail.size()), from);
        tail.resize(read > 0 ? qsizetype(read) : 0);
    }
    ::close(log);
    QString lastTime;
    const QList<QByteArray> lines = tail.split('\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const QJsonObject record = QJsonDocument::fromJson(*line).object();
        if (record.isEmpty())
            continue;
        if (lastTime.isEmpty())
            lastTime = record.value(QStringLiteral("time")).toString();
        const QString event = record.value(QStringLiteral("event")).toString();
        if (event == QLatin1String("motion-end"))
            return std::nullopt;
        if (event == QLatin1String("motion-start"))
            return lastTime;
    }
    return std::nullopt;
}

bool EventLog::append(const QJsonObject &record)
{
    const int log = open();
    if (log < 0)
        return false;
    const QString path = m_folder.filePath(QLatin1String(NAME));
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    QString problem;
    struct stat before = {};
    ::fstat(log, &before);
    const ssize_t written = ::write(log, line.constData(), size_t(line.size()));
    if (written != line.size()) {
        problem = written < 0 ? systemErrorText() : QStringLiteral("the disk is full");
        // Half a line would spoil the next one as well.
        if (written > 0 && ::ftruncate(log, before.st_size) != 0)
            problem += QStringLiteral(", and the half line stays: ") + systemErrorText();
    } else if (::fdatasync(log) != 0) {
        problem = systemErrorText();
    }
    ::close(log);
    if (problem.isEmpty())
        m_reports.written(path);
    else
        m_reports.failed(path, QStringLiteral("Cannot write '%1': %2").arg(path, problem));
    return problem.isEmpty();
}

int EventLog::open()
{
    const int folder = m_folder.descriptor();
    const QString path = m_folder.filePath(QLatin1String(NAME));
    const auto refuse = [&](const QString &what) {
        m_reports.failed(path,
            QStringLiteral("'%1' is %2, not Tirvel's log; it is left alone, and events are not "
                           "logged until it is gone.")
                .arg(path, what));
        return -1;
    };
    struct stat status = {};
    if (::fstatat(folder, NAME, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(status.st_mode))
            return refuse(EventFolder::oddity(status.st_mode));
        if (status.st_size >= ROTATE_BYTES)
            turnOver();
    }
    // Never blocks, even on a pipe put there since, and never follows a link.
    const int log = ::openat(folder, NAME,
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
        S_IRUSR | S_IWUSR);
    if (log < 0) {
        m_reports.failed(
            path, QStringLiteral("Cannot write '%1': %2").arg(path, systemErrorText()));
        return -1;
    }
    if (::fstat(log, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1
        || status.st_uid != ::geteuid()) {
        ::close(log);
        return refuse(!S_ISREG(status.st_mode)
                ? EventFolder::oddity(status.st_mode)
                : QStringLiteral("a file with another name or owner"));
    }
    return log;
}

void EventLog::turnOver()
{
    const int folder = m_folder.descriptor();
    const QString old = m_folder.filePath(QLatin1String(OLD_NAME));
    if (::renameat(folder, NAME, folder, OLD_NAME) == 0) {
        m_reports.written(old);
        return;
    }
    const QString path = m_folder.filePath(QLatin1String(NAME));
    m_reports.failed(old,
        QStringLiteral("Cannot turn '%1' over to '%2': %3; lines go on being added to '%1'.")
            .arg(path, old, systemErrorText()));
}

} // namespace tirvel
