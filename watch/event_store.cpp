#include "event_store.h"

#include "private_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <sys/statvfs.h>

namespace tirvel {

namespace {

// Less free than either is a disk nearly full; it has room again with a tenth more than both.
constexpr double LOW_SHARE = 0.05;
constexpr double LOW_BYTES = 500.0 * 1024 * 1024;
constexpr double ROOM_AGAIN = 1.1;

} // namespace

EventStore::EventStore(
    const QString &folder, int keep, std::function<void()> beforeEachWrite, QObject *parent)
    : QObject(parent)
    , m_reports([this](const QString &description) { Q_EMIT failed(description); })
    , m_folder(folder, m_reports)
    , m_log(m_folder, m_reports)
    , m_pictures(m_folder, keep, m_reports)
    , m_beforeEachWrite(std::move(beforeEachWrite))
{
}

void EventStore::beforeWrite()
{
    if (m_beforeEachWrite)
        m_beforeEachWrite();
}

void EventStore::openFolder()
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (m_makeParent)
        QDir().mkpath(QFileInfo(m_folder.path()).path());
    if (const auto refusal
        = claimPrivateFolder(QStringLiteral("event folder"), m_folder.path(), true)) {
        Q_EMIT folderOpened(false, *refusal);
        return;
    }
    // A folder changed since the check is said by reach(), and reached again at the next event.
    if (m_folder.reach())
        m_pictures.prepare();
    Q_EMIT folderOpened(true, {});
    checkDisk();
}

void EventStore::store(Event event)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const bool writable = m_folder.reach();
    if (!event.timed.isNull()) {
        event.pictureBytes = EventPictures::encode(event.timed, event.marked);
        event.timed = {};
        event.marked = {};
        if (writable) {
            beforeWrite();
            event.pictureName = m_pictures.save(event.pictureBytes, event.time);
        }
        if (!event.pictureName.isEmpty())
            event.picturePath = m_folder.filePath(event.pictureName);
        if (!event.snapshot.isNull() && !event.pictureName.isEmpty()) {
            beforeWrite();
            event.snapshotBytes = EventPictures::encodeSnapshot(event.snapshot);
            event.snapshotName = m_pictures.saveSnapshot(event.snapshotBytes);
            if (!event.snapshotName.isEmpty())
                event.snapshotPath = m_folder.filePath(event.snapshotName);
        }
        event.snapshot = {};
    }
    if (writable) {
        beforeWrite();
        event.written = m_log.append(event.record())
            && (event.pictureBytes.isEmpty() || !event.pictureName.isEmpty());
    }
    Q_EMIT stored(event);
    checkDisk();
}

void EventStore::checkDisk()
{
    struct statvfs disk = {};
    if (m_folder.descriptor() < 0 || ::fstatvfs(m_folder.descriptor(), &disk) != 0
        || disk.f_blocks == 0)
        return;
    const double free = double(disk.f_bavail) * double(disk.f_frsize);
    const double total = double(disk.f_blocks) * double(disk.f_frsize);
    const double least = std::max(LOW_SHARE * total, LOW_BYTES);
    const bool low = m_diskLow ? free < least * ROOM_AGAIN : free < least;
    if (low != m_diskLow) {
        m_diskLow = low;
        Q_EMIT diskSpaceChanged(low, qint64(free));
    }
}

} // namespace tirvel
