#include "event_folder.h"

#include "private_folder.h"
#include "report_once.h"
#include "system_error.h"
#include "whole_file.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tirvel {

namespace {

bool isPrivateFolder(const struct stat &status)
{
    return S_ISDIR(status.st_mode) && status.st_uid == ::geteuid()
        && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Where an open folder is now, as the kernel knows it.
QString placeOf(int descriptor)
{
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(descriptor);
    char place[4096];
    const ssize_t length = ::readlink(link.constData(), place, sizeof place);
    return length > 0 ? QFile::decodeName(QByteArray(place, length))
                      : QStringLiteral("an unknown place");
}

} // namespace

EventFolder::EventFolder(QString path, ReportOnce &reports)
    : m_path(std::move(path))
    , m_where(m_path)
    , m_reports(reports)
{
}

EventFolder::~EventFolder()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool EventFolder::reach()
{
    const QByteArray name = QFile::encodeName(m_path);
    struct stat named = {};
    const bool present = ::lstat(name.constData(), &named) == 0;
    struct stat held = {};
    const bool holding = m_descriptor >= 0 && ::fstat(m_descriptor, &held) == 0;
    if (holding && present && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
        m_where = m_path;
        m_situation.clear();
        return true;
    }
    // The name leads elsewhere, or to nothing: a removed folder has no links left.
    const bool heldLives = holding && held.st_nlink > 0;
    const QString movedTo = heldLives ? placeOf(m_descriptor) : QString();
    const auto refusal = claimPrivateFolder(QStringLiteral("event folder"), m_path, true);
    // Checked again on what was opened, in case the name changed in between.
    const int opened = refusal
        ? -1
        : ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status = {};
    if (opened >= 0 && ::fstat(opened, &status) == 0 && isPrivateFolder(status)) {
        if (holding && present)
            tell(QStringLiteral("The event folder '%1' was replaced by another folder of yours; "
                                "events go on in that one.")
                     .arg(m_path));
        else if (heldLives)
            tell(QStringLiteral("The event folder '%1' was moved to '%2'; it was made again under "
                                "its name, and events go on in it.")
                     .arg(m_path, movedTo));
        else if (holding)
            tell(QStringLiteral("The event folder '%1' was removed; it was made again, and events "
                                "go on in it.")
                     .arg(m_path));
        else if (!m_situation.isEmpty())
            tell(QStringLiteral("The event folder '%1' can be used again.").arg(m_path));
        adopt(opened);
        return true;
    }
    if (opened >= 0)
        ::close(opened);
    const QString why = refusal
        ? *refusal
        : QStringLiteral("The event folder '%1' changed while it was opened.").arg(m_path);
    if (heldLives) {
        m_where = movedTo;
        tell(QStringLiteral("%1 Nothing is written there; events go on in '%2', where the event "
                            "folder was moved.")
                 .arg(why, movedTo));
        return true;
    }
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
    tell(QStringLiteral("%1 Events are not saved until it can be used.").arg(why));
    return false;
}

void EventFolder::adopt(int descriptor)
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = descriptor;
    ++m_generation;
    m_where = m_path;
}

void EventFolder::tell(const QString &situation)
{
    if (situation == m_situation)
        return;
    m_situation = situation;
    m_reports.tellNews(situation);
}

QString EventFolder::filePath(const QString &name) const
{
    return m_where + QLatin1Char('/') + name;
}

QString EventFolder::storeWhole(const QString &name, const QByteArray &bytes, ino_t *inode) const
{
    return storeWholeAt(m_descriptor, name, bytes, Durable::Yes, inode);
}

QString EventFolder::oddity(unsigned mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    return QStringLiteral("not a regular file");
}

} // namespace tirvel
