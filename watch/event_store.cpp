#include "event_store.h"

#include "clip_encoder.h"
#include "private_folder.h"
#include "system_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace tirvel {

namespace {

// Less free than either is a disk nearly full; it has room again with a tenth more than both.
constexpr double LOW_SHARE = 0.05;
constexpr double LOW_BYTES = 500.0 * 1024 * 1024;
constexpr double ROOM_AGAIN = 1.1;
// How often a clip that waits for its end is looked at.
constexpr int CLIP_CHECK_MS = 250;
const QString CLIPS = QStringLiteral("event clips");

QString partName(const QString &clip)
{
    return QLatin1Char('.') + clip + QLatin1String(".part");
}

} // namespace

EventStore::EventStore(
    const QString &folder, int keep, std::function<void()> beforeEachWrite, QObject *parent)
    : QObject(parent)
    , m_reports([this](const QString &description) { Q_EMIT failed(description); })
    , m_folder(folder, m_reports)
    , m_log(m_folder, m_reports)
    , m_pictures(m_folder, keep, m_reports,
          [this](const QString &description) { Q_EMIT noted(description); })
    , m_beforeEachWrite(std::move(beforeEachWrite))
    , m_clipTimer(this)
{
    m_clipTimer.setInterval(CLIP_CHECK_MS);
    connect(&m_clipTimer, &QTimer::timeout, this, [this] {
        std::uint64_t pending = 0;
        for (const QString &name : std::as_const(m_clipsWritten)) {
            struct stat status = {};
            if (::fstatat(m_folder.descriptor(), QFile::encodeName(partName(name)).constData(),
                    &status, AT_SYMLINK_NOFOLLOW)
                == 0)
                pending += std::uint64_t(status.st_size);
        }
        m_pictures.setPendingBytes(pending);
        pruneSoon();
        m_clips->check();
        if (!m_clips->recording())
            m_clipTimer.stop();
    });
}

void EventStore::recordClips(Clock clock, ClipRecorder::Timing timing)
{
    ClipRecorder::Output output;
    output.open = [this](const QString &name, QSize size) { return openClip(name, size); };
    output.closed = [this](const QString &name, bool whole) { clipClosed(name, whole); };
    m_clips = std::make_unique<ClipRecorder>(std::move(output), std::move(clock), timing);
}

void EventStore::cameraFrame(const QImage &picture, qint64 ms)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (m_clips)
        m_clips->frame(picture, ms);
}

std::unique_ptr<ClipSink> EventStore::openClip(const QString &name, QSize size)
{
    if (!m_folder.reach())
        return nullptr;
    const QByteArray part = QFile::encodeName(partName(name));
    int descriptor = -1;
    for (int attempt = 0; attempt < 2 && descriptor < 0; ++attempt) {
        descriptor = ::openat(m_folder.descriptor(), part.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        // One left by a run that ended while writing it.
        if (descriptor < 0 && errno == EEXIST)
            ::unlinkat(m_folder.descriptor(), part.constData(), 0);
    }
    QString problem;
    std::unique_ptr<ClipSink> encoder;
    if (descriptor < 0)
        problem = systemErrorText(errno);
    else
        encoder = ClipEncoder::open(descriptor, size, &problem);
    if (encoder) {
        m_clipsWritten.append(name);
    } else {
        m_reports.failed(CLIPS,
            QStringLiteral("Cannot record the event's clip '%1': %2")
                .arg(m_folder.filePath(name), problem));
    }
    return encoder;
}

void EventStore::clipClosed(const QString &name, bool whole)
{
    m_clipsWritten.removeAll(name);
    // Counted as kept below; the others' are counted again at the next look.
    m_pictures.setPendingBytes(0);
    const int folder = m_folder.descriptor();
    const QByteArray part = QFile::encodeName(partName(name));
    const QByteArray kept = QFile::encodeName(name);
    struct stat status = {};
    whole = whole && ::fstatat(folder, part.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && ::renameat(folder, part.constData(), folder, kept.constData()) == 0;
    if (!whole) {
        ::unlinkat(folder, part.constData(), 0);
        m_reports.failed(CLIPS,
            QStringLiteral("The event's clip '%1' could not be finished; it is left out.")
                .arg(m_folder.filePath(name)));
    } else {
        m_reports.written(CLIPS);
    }
    const auto owner = EventPictures::ownerOf(name.toStdString());
    const QString picture = QString::fromStdString(owner ? owner->picture : std::string());
    const QString base = picture.left(picture.size() - 4);
    const int number = owner ? owner->part : 0;
    if (whole && !m_pictures.addClip(picture, number, std::uint64_t(status.st_size)))
        ::unlinkat(folder, kept.constData(), 0);
    pruneSoon();
    if (number == 1)
        m_clipWhole.insert(base, whole);
    // The event's command waits for its last part.
    if (m_clipEnds.contains(base) && !m_clips->recording(base)) {
        Event event = m_clipEnds.take(base);
        event.clipPending = false;
        if (m_clipWhole.take(base))
            event.clipPath = m_folder.filePath(event.clipName);
        Q_EMIT clipStored(event);
    }
}

void EventStore::finishClips(int waitMs)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (m_clips)
        m_clips->finishAll(waitMs);
    // What the ended commands gave back, as far as one slice goes.
    if (m_folder.reach())
        m_pictures.prune(m_pruneSlice);
}

void EventStore::forget(const QStringList &pictures)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!m_folder.reach())
        return;
    m_pictures.prepare();
    Event event;
    event.kind = EventKind::Deleted;
    event.time = QDateTime::currentDateTime();
    m_pictures.forget(pictures);
    // Those already pruned are named too, so that they are no longer listed.
    event.fields.insert(QStringLiteral("pictures"), QJsonArray::fromStringList(pictures));
    beforeWrite();
    m_log.append(event.record());
    Q_EMIT forgotten();
}

void EventStore::release(const QString &picture)
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_pictures.release(picture);
    pruneSoon();
}

void EventStore::pruneSoon()
{
    if (m_pruneDue)
        return;
    m_pruneDue = true;
    // Behind what is asked already, so that the events' lines are written first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pruneDue = false;
            if (m_folder.reach() && m_pictures.prune(m_pruneSlice))
                pruneSoon();
        },
        Qt::QueuedConnection);
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
    if (m_folder.reach()) {
        m_pictures.prepare();
        // The event a crash or a kill cut off ends where its log did.
        if (const auto since = m_log.unendedSince()) {
            beforeWrite();
            m_log.append({{QStringLiteral("event"), eventName(EventKind::MotionEnd)},
                {QStringLiteral("reason"), QStringLiteral("restart")},
                {QStringLiteral("time"), *since}});
        }
    }
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
        event.heldPicture = event.pictureName;
        if (!event.snapshot.isNull() && !event.pictureName.isEmpty()) {
            beforeWrite();
            event.snapshotBytes = EventPictures::encodeSnapshot(event.snapshot);
            event.snapshotName = m_pictures.saveSnapshot(event.snapshotBytes);
            if (!event.snapshotName.isEmpty())
                event.snapshotPath = m_folder.filePath(event.snapshotName);
        }
        event.snapshot = {};
        if (m_clips && !event.pictureName.isEmpty()) {
            m_clipBase = event.pictureName.chopped(4);
            m_clips->begin(m_clipBase, event.clockMs);
            m_clipTimer.start();
        }
    }
    if (m_clips && event.kind == EventKind::MotionEnd && !m_clipBase.isEmpty()
        && m_clips->recording(m_clipBase)) {
        m_clips->end(event.clockMs);
        event.clipName = ClipRecorder::nameOf(m_clipBase, 1);
        event.clipPending = true;
        event.heldPicture = m_clipBase + QLatin1String(".png");
    }
    if (m_clips && event.kind == EventKind::WatchOff)
        m_clips->clearRing();
    if (writable) {
        beforeWrite();
        event.written = m_log.append(event.record())
            && (event.pictureBytes.isEmpty() || !event.pictureName.isEmpty());
    }
    // Until the watcher has run the command given it.
    if (m_holdForCommands && !event.heldPicture.isEmpty())
        m_pictures.hold(event.heldPicture);
    else
        event.heldPicture.clear();
    Q_EMIT stored(event);
    if (event.clipPending)
        m_clipEnds.insert(m_clipBase, event);
    pruneSoon();
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
