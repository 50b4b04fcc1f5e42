#include "whole_file.h"

#include "system_error.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace tirvel {

QString storeWholeAt(
    int folder, const QString &name, const QByteArray &bytes, Durable durable, ino_t *inode)
{
    const QByteArray target = QFile::encodeName(name);
    QByteArray temporary;
    int file = -1;
    for (int tries = 0; tries < 4 && file < 0; ++tries) {
        temporary
            = '.' + target + '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        file = ::openat(folder, temporary.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (file < 0 && errno != EEXIST)
            break;
    }
    if (file < 0)
        return systemErrorText();
    const auto fail = [&] {
        QString why = systemErrorText();
        ::close(file);
        ::unlinkat(folder, temporary.constData(), 0);
        return why;
    };
    // Written through the descriptor, because Qt reports a full disk as an unknown error.
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t count
            = ::write(file, bytes.constData() + written, size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return fail();
        written += count;
    }
    struct stat status = {};
    if ((durable == Durable::Yes && ::fsync(file) != 0) || ::fstat(file, &status) != 0)
        return fail();
    if (::renameat(folder, temporary.constData(), folder, target.constData()) != 0)
        return fail();
    ::close(file);
    // The rename is on the disk once the folder is.
    if (durable == Durable::Yes)
        ::fsync(folder);
    if (inode != nullptr)
        *inode = status.st_ino;
    return {};
}

QString storeWhole(const QString &path, const QByteArray &bytes, Durable durable)
{
    const QFileInfo file(path);
    const int folder
        = ::open(QFile::encodeName(file.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return systemErrorText();
    QString problem = storeWholeAt(folder, file.fileName(), bytes, durable);
    ::close(folder);
    return problem;
}

void removeLeftovers(int folder, const std::function<bool(const QByteArray &target)> &ours)
{
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (entries == nullptr) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    // A 64-bit number in base 36 has at most 13 digits.
    constexpr qsizetype MOST_DIGITS = 13;
    while (const dirent *entry = ::readdir(entries)) {
        const QByteArray name(entry->d_name);
        const qsizetype dot = name.lastIndexOf('.');
        if (!name.startsWith('.') || dot < 2 || name.size() - dot - 1 < 1
            || name.size() - dot - 1 > MOST_DIGITS)
            continue;
        const QByteArray digits = name.mid(dot + 1);
        if (!std::all_of(digits.begin(), digits.end(),
                [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); })
            || !ours(name.mid(1, dot - 1)))
            continue;
        struct stat status = {};
        if (::fstatat(::dirfd(entries), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(status.st_mode) && status.st_uid == ::geteuid())
            ::unlinkat(::dirfd(entries), entry->d_name, 0);
    }
    ::closedir(entries);
}

} // namespace tirvel
