#include "private_folder.h"

#include "system_error.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tirvel {

std::optional<QString> claimPrivateFolder(const QString &what, const QString &path, bool create)
{
    const QByteArray name = QFile::encodeName(path);
    const auto refuse = [&](const QString &why) {
        return QStringLiteral("The %1 '%2' %3.").arg(what, path, why);
    };
    // mkdir() applies the umask, which can only take bits away from 0700.
    if (create && ::mkdir(name.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return refuse(QStringLiteral("cannot be made: %1").arg(systemErrorText()));
    struct stat status = {};
    if (::lstat(name.constData(), &status) != 0)
        return refuse(QStringLiteral("cannot be used: %1").arg(systemErrorText()));
    if (S_ISLNK(status.st_mode))
        return refuse(QStringLiteral("is a symbolic link; give the folder it points to"));
    if (!S_ISDIR(status.st_mode))
        return refuse(QStringLiteral("is not a folder"));
    if (status.st_uid != ::geteuid())
        return refuse(QStringLiteral("belongs to another user"));
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return refuse(QStringLiteral(
            "can be written by other users; camera pictures need a folder of your own"));
    return std::nullopt;
}

} // namespace tirvel
