#include "picture_file.h"

#include "bmp_check.h"
#include "system_error.h"
#include "tirvel_error.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>

namespace tirvel {

namespace {

// The largest file a picture of MAX_PICTURE_PIXELS can take, with room for its headers.
constexpr qint64 MAX_FILE_BYTES = MAX_PICTURE_PIXELS * 4 + 64LL * 1024;

using Clock = std::chrono::steady_clock;
// How long a handler waits for a busy file before it gives up; the window is blocked meanwhile.
constexpr Clock::duration MAX_WAIT = std::chrono::milliseconds(200);

QString quoted(const QString &path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

[[noreturn]] void throwInvalid(const QString &path, const QString &why)
{
    throw TirvelError(ErrorNumber::InvalidPicture,
        QStringLiteral("Invalid picture: %1 (%2)").arg(quoted(path), why));
}

[[noreturn]] void throwUnreadable(const QString &path, int error)
{
    if (error == ENOENT || error == ENOTDIR)
        throw TirvelError(
            ErrorNumber::FileNotFound, QStringLiteral("File not found: %1").arg(quoted(path)));
    throw TirvelError(ErrorNumber::PathAccessError,
        QStringLiteral("Path/File access error: %1 cannot be read (%2)")
            .arg(quoted(path), systemErrorText(error)));
}

QString fileTooLargeText()
{
    return QStringLiteral("the file is too large: a frame takes at most %1 MB")
        .arg(MAX_FILE_BYTES / (1024LL * 1024));
}

void refuseIfNotRegular(const QString &path, mode_t mode)
{
    if (S_ISREG(mode))
        return;
    const auto refuse = [&](const char *what) {
        throw TirvelError(ErrorNumber::PathAccessError,
            QStringLiteral("Path/File access error: %1 is %2").arg(quoted(path), what));
    };
    if (S_ISDIR(mode))
        refuse("a directory");
    if (S_ISFIFO(mode))
        refuse("a named pipe, not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        refuse("a device, not a file");
    if (S_ISSOCK(mode))
        refuse("a socket, not a file");
    refuse("not a regular file");
}

struct Descriptor
{
    explicit Descriptor(int descriptor)
        : fd(descriptor)
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int fd;
};

// What changes when anyone writes to, truncates or replaces the contents of an open file.
struct Snapshot
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified {};
    timespec changed {};

    bool operator==(const Snapshot &other) const
    {
        const auto same
            = [](timespec a, timespec b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
        return device == other.device && inode == other.inode && size == other.size
            && same(modified, other.modified) && same(changed, other.changed);
    }
};

// On the descriptor rather than the path: a renaming writer replaces the path, but never the
// file already opened.
Snapshot snapshotOf(int fd, const QString &path)
{
    struct stat status = {};
    if (::fstat(fd, &status) != 0)
        throwUnreadable(path, errno);
    refuseIfNotRegular(path, status.st_mode);
    if (status.st_size > MAX_FILE_BYTES)
        throwInvalid(path, fileTooLargeText());
    return {status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

// How long ago the file system says the file was written; negative for a time ahead of ours.
Clock::duration ageOf(timespec modified)
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::chrono::seconds(now.tv_sec - modified.tv_sec)
        + std::chrono::nanoseconds(now.tv_nsec - modified.tv_nsec);
}

// Reads from the start to the end of the file, and stops a chunk past the limit whatever size the
// file claims: files under /proc claim none, and a file may grow while it is read. Chunks stay
// multiples of 64 KiB, as some of those files refuse reads of odd sizes.
QByteArray readToLimit(int fd, const QString &path, qint64 claimedSize)
{
    constexpr qint64 CHUNK = 64LL * 1024;
    QByteArray bytes(std::min(claimedSize, MAX_FILE_BYTES) + CHUNK, Qt::Uninitialized);
    qint64 filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > MAX_FILE_BYTES)
                throwInvalid(path, fileTooLargeText());
            bytes.resize(std::min(2 * filled, MAX_FILE_BYTES + CHUNK));
        }
        const ssize_t got
            = ::pread(fd, bytes.data() + filled, size_t(bytes.size() - filled), filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throwUnreadable(path, errno);
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return bytes;
}

} // namespace

QString tooLargeText(std::int64_t width, std::int64_t height)
{
    return QStringLiteral("the picture is too large: %1 x %2 pixels, more than the %3 of a frame")
        .arg(width)
        .arg(height)
        .arg(MAX_PICTURE_PIXELS);
}

QByteArray readPictureFile(const QString &path)
{
    // Pictures built into the program, such as the start picture, are Qt resources in memory.
    if (path.startsWith(QLatin1Char(':'))) {
        QFile resource(path);
        if (!resource.open(QIODevice::ReadOnly))
            throwUnreadable(path, ENOENT);
        return resource.readAll();
    }
    const QByteArray name = QFile::encodeName(path);
    // stat first, because opening a device can have effects of its own.
    struct stat status = {};
    if (::stat(name.constData(), &status) != 0)
        throwUnreadable(path, errno);
    refuseIfNotRegular(path, status.st_mode);

    // O_NONBLOCK: should the path have become a pipe since the stat, opening it must not wait
    // for a writer.
    const Descriptor file {::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0)
        throwUnreadable(path, errno);
    std::optional<Snapshot> seen;
    auto seenSince = Clock::now();
    const auto started = seenSince;
    for (;;) {
        const Snapshot before = snapshotOf(file.fd, path);
        const auto now = Clock::now();
        if (seen != before) {
            seen = before;
            seenSince = now;
        }
        // A file whose clock runs ahead of ours is judged by how long we have seen it unchanged.
        const auto quiet = std::max(ageOf(before.modified), now - seenSince);
        if (quiet >= PICTURE_QUIET_TIME) {
            QByteArray bytes = readToLimit(file.fd, path, before.size);
            if (snapshotOf(file.fd, path) == before)
                return bytes;
        }
        const auto waited = Clock::now() - started;
        if (waited >= MAX_WAIT)
            throwInvalid(path, QStringLiteral("the file is still being written"));
        std::this_thread::sleep_for(std::min<Clock::duration>(
            std::max<Clock::duration>(PICTURE_QUIET_TIME - quiet, std::chrono::milliseconds(1)),
            MAX_WAIT - waited));
    }
}

QImage decodePicture(const QByteArray &bytes, const QString &path)
{
    if (bytes.startsWith("BM")) {
        if (const auto fault = findBmpFault(bytes))
            throwInvalid(path, *fault);
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > MAX_PICTURE_PIXELS)
        throwInvalid(path, tooLargeText(size.width(), size.height()));
    QImage image = reader.read();
    if (image.isNull())
        throwInvalid(path, reader.errorString());
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage loadPicture(const QString &path)
{
    // Decoded from memory, so the picture is the one snapshot the read accepted.
    return decodePicture(readPictureFile(path), path);
}

} // namespace tirvel
