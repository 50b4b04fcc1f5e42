#include "private_folder.h"

#include "system_error.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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
    // The kernel's own views look like folders of the user's, and keep nothing written there.
    char real[PATH_MAX];
    if (::realpath(name.constData(), real) != nullptr) {
        for (const char *system : {"/proc", "/sys", "/dev"}) {
            const std::size_t length = std::strlen(system);
            if (std::strncmp(real, system, length) == 0
                && (real[length] == '/' || real[length] == 0))
                return refuse(QStringLiteral("is in %1, which the system keeps, not a folder on a "
                                             "disk")
                                  .arg(QLatin1String(system)));
        }
    }
    if (status.st_uid != ::geteuid())
        return refuse(QStringLiteral("belongs to another user"));
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return refuse(QStringLiteral(
            "can be written by other users; camera pictures need a folder of your own"));
    return std::nullopt;
}

} // namespace tirvel
