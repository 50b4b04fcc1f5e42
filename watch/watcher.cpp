#include "watcher.h"

#include "event_store.h"
#include "notifier.h"
#include "tirvel_error.h"

#include <QLocale>
#include <QPointer>
#include <QThread>

#include <utility>

namespace tirvel {

namespace {

constexpr int CHECK_INTERVAL_MS = 250;
// Half-way between two ticks, so a test never meets a 5.bmp being read.
constexpr int AUTOMATIC_TEST_DELAY_MS = 500;

} // namespace

Watcher::Watcher(WatchSettings settings, const Clock &clock, EventStore &store, Notifier *notifier,
    QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_clock(clock)
    , m_motion(clock, qint64(m_settings.eventGapSeconds) * 1000)
    , m_store(store)
    , m_notifier(notifier)
    , m_frameReports(
          [this](const QString &description) { Q_EMIT report(m_frameErrorNumber, description); })
{
    // Queued both ways, also on one thread, so that an event recorded while another is told
    // waits for its turn.
    connect(&m_store, &EventStore::stored, this, &Watcher::stored, Qt::QueuedConnection);
    connect(&m_store, &EventStore::clipStored, this, &Watcher::clipStored, Qt::QueuedConnection);
    connect(&m_store, &EventStore::failed, this, &Watcher::storeFailed, Qt::QueuedConnection);
    connect(&m_store, &EventStore::noted, this, &Watcher::noted, Qt::QueuedConnection);
    connect(&m_store, &EventStore::diskSpaceChanged, this, &Watcher::diskSpaceChanged,
        Qt::QueuedConnection);
    connect(
        &m_store, &EventStore::folderOpened, this, &Watcher::folderOpened, Qt::QueuedConnection);
    if (!m_settings.command.isEmpty()) {
        m_command = std::make_unique<EventCommand>(m_settings.command, m_settings.commandTiming);
        connect(m_command.get(), &EventCommand::failed, this, &Watcher::reportFailure);
        connect(m_command.get(), &EventCommand::dropped, this, [this](int count) {
            record(EventKind::CommandDropped, {{QStringLiteral("dropped"), count}});
            // Once until the commands have caught up; the log counts every one.
            if (std::exchange(m_saidDropped, true))
                return;
            Q_EMIT noted(QStringLiteral("%1 events came while %2 others waited for the command "
                                        "'%3' of --on-event; it is not run for such events "
                                        "until it has caught up (the log counts them).")
                             .arg(count)
                             .arg(EventCommand::QUEUE_LENGTH)
                             .arg(m_settings.command.join(QLatin1Char(' '))));
        });
        connect(m_command.get(), &EventCommand::done, this, [this](const QString &picture) {
            release(picture);
            if (m_command->idle())
                m_saidDropped = false;
        });
        connect(m_command.get(), &EventCommand::timedOut, this,
            [this] { record(EventKind::CommandEnded); });
    }
    m_check.setInterval(CHECK_INTERVAL_MS);
    connect(&m_check, &QTimer::timeout, this, &Watcher::check);
    // One pending at most: a test still due when the next is asked for is the same one.
    m_automaticTest.setSingleShot(true);
    m_automaticTest.setInterval(AUTOMATIC_TEST_DELAY_MS);
    connect(&m_automaticTest, &QTimer::timeout, this, &Watcher::testWanted);
}

Watcher::~Watcher()
{
    endCommand();
}

void Watcher::diskSpaceChanged(bool low, qint64 freeBytes)
{
    Q_ASSERT(QThread::currentThread() == thread());
    constexpr qint64 MEGABYTE = qint64(1024) * 1024;
    const qint64 megabytes = freeBytes / MEGABYTE;
    record(low ? EventKind::DiskLow : EventKind::DiskOk,
        {{QStringLiteral("free_megabytes"), megabytes}});
    if (low)
        notify(QStringLiteral("Disken är nästan full"),
            QStringLiteral("%1 MB kvar där händelserna sparas.").arg(megabytes), {});
}

void Watcher::notify(
    const QString &summary, const QString &body, const QString &imagePath, const QString &reference)
{
    if (m_notifier == nullptr)
        return;
    QMetaObject::invokeMethod(
        m_notifier, [notifier = m_notifier, summary, body, imagePath, reference] {
            notifier->notify(summary, body, imagePath, reference);
        });
}

void Watcher::reportFailure(const QString &description)
{
    Q_EMIT report(int(ErrorNumber::PathAccessError), description);
}

void Watcher::storeFailed(const QString &description)
{
    m_storeTrouble = description;
    reportFailure(description);
}

void Watcher::endCommand()
{
    if (m_command)
        m_command->end();
}

void Watcher::setWatching(bool watching, const QString &by, int switches)
{
    Q_ASSERT(QThread::currentThread() == thread());
    QJsonObject fields;
    if (!by.isEmpty())
        fields.insert(QStringLiteral("by"), by);
    if (switches > 1)
        fields.insert(QStringLiteral("switches"), switches);
    if (watching) {
        if (m_watching || m_opening)
            return;
        // Making and checking the folder touches the disk, so it is done on the store's thread,
        // and watching starts once it answers.
        m_opening = true;
        m_openedBy = fields;
        QMetaObject::invokeMethod(
            &m_store, [store = &m_store] { store->openFolder(); }, Qt::QueuedConnection);
        return;
    }
    if (m_opening) {
        m_opening = false;
        Q_EMIT watchingChanged(false);
        return;
    }
    if (!m_watching)
        return;
    forgetFrameFailures();
    endMotion();
    setCameraLost(false);
    setFramesStale(false);
    record(EventKind::WatchOff, fields);
    m_watching = false;
    m_check.stop();
    m_automaticTest.stop();
    Q_EMIT watchingChanged(false);
}

void Watcher::folderOpened(bool opened, const QString &refusal)
{
    Q_ASSERT(QThread::currentThread() == thread());
    // Switched off meanwhile, nobody waits for the answer.
    if (!m_opening)
        return;
    m_opening = false;
    Q_EMIT eventFolderChanged(opened, refusal);
    if (!opened) {
        reportFailure(refusal);
        Q_EMIT watchingChanged(false);
        return;
    }
    forgetFrameFailures();
    m_watching = true;
    m_pictureGoneMs = m_clock();
    m_lastNewFrameMs = m_clock();
    m_check.start();
    record(EventKind::WatchOn, m_openedBy);
    Q_EMIT watchingChanged(true);
}

void Watcher::recordNote(EventKind kind, QJsonObject fields)
{
    Q_ASSERT(QThread::currentThread() == thread());
    // Not watching, the event folder may not have been claimed.
    if (m_watching)
        record(kind, std::move(fields));
}

void Watcher::ticked()
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_frameRead = true;
    m_frameReports.written(m_settings.frames.timed);
    // The pictures of a lost camera stand still, and would read as a quiet room.
    if (m_watching && !m_cameraLost)
        m_automaticTest.start();
}

void Watcher::tested(const TestResult &result)
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_frameRead = true;
    m_frameReports.written(m_settings.frames.test);
    if (!m_watching)
        return;
    Q_EMIT timedFrameDue(result.read);
    if (result.read != m_lastTestFrame) {
        m_lastTestFrame = result.read;
        m_lastNewFrameMs = m_clock();
        setFramesStale(false);
    }
    if (result.cameraMode && !blind())
        record(EventKind::CameraMode,
            {{QStringLiteral("light"), result.explanation.value(QStringLiteral("light"))}});
    if (!result.detected && !blind())
        m_motion.quiet();
    if (!result.detected || blind() || !m_motion.detected(result.count))
        return;
    QJsonObject fields = result.explanation;
    fields.insert(QStringLiteral("count"), result.count);
    record(EventKind::MotionStart, fields, &result);
}

void Watcher::testFailed(int number, const QString &description, const QString &file)
{
    Q_ASSERT(QThread::currentThread() == thread());
    // Without a camera, or before its first picture, there is nothing to read yet; that is the
    // live view's news, not an error.
    if (m_settings.ownCamera && !m_frameRead && number == int(ErrorNumber::FileNotFound)) {
        if (!m_waitingSaid)
            Q_EMIT waitingForPicture();
        m_waitingSaid = true;
        return;
    }
    // A timed frame that stays missing would otherwise be reported every second; a person who
    // clicks Test hears each time.
    if (file.isEmpty() || (!m_watching && file != m_settings.frames.timed)) {
        Q_EMIT report(number, description);
        return;
    }
    m_frameErrorNumber = number;
    m_frameReports.failed(file, description);
}

void Watcher::forgetFrameFailures()
{
    m_frameReports.written(m_settings.frames.test);
    m_frameReports.written(m_settings.frames.timed);
}

void Watcher::cameraShowingChanged(bool showing)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (showing == m_showing)
        return;
    m_showing = showing;
    if (showing)
        setCameraLost(false);
    else
        m_pictureGoneMs = m_clock();
}

void Watcher::check()
{
    if (const auto ended = m_motion.expire()) {
        record(EventKind::MotionEnd,
            {{QStringLiteral("count"), ended->highestCount},
                {QStringLiteral("detections"), ended->detections}});
    }
    const qint64 now = m_clock();
    if (m_settings.ownCamera) {
        if (!m_showing && now - m_pictureGoneMs > m_settings.cameraLostMs)
            setCameraLost(true);
    } else if (now - m_lastNewFrameMs > m_settings.framesStaleMs) {
        setFramesStale(true);
    }
}

void Watcher::endMotion()
{
    if (const auto ended = m_motion.close()) {
        record(EventKind::MotionEnd,
            {{QStringLiteral("count"), ended->highestCount},
                {QStringLiteral("detections"), ended->detections}});
    }
}

void Watcher::setCameraLost(bool lost)
{
    // A test already due would read the last picture again.
    if (lost && !m_cameraLost)
        m_automaticTest.stop();
    setBlind(m_cameraLost, lost, EventKind::CameraLost, EventKind::CameraBack);
}

void Watcher::setFramesStale(bool stale)
{
    setBlind(m_framesStale, stale, EventKind::FramesStale, EventKind::FramesBack);
}

void Watcher::setBlind(bool &state, bool blind, EventKind gone, EventKind back)
{
    if (blind == state)
        return;
    state = blind;
    if (!m_watching)
        return;
    // Nothing new can be seen; an open event ends here.
    if (blind)
        endMotion();
    record(blind ? gone : back);
    Q_EMIT blindChanged(m_cameraLost, m_framesStale);
}

void Watcher::record(EventKind kind, QJsonObject fields, const TestResult *result)
{
    if (kind == EventKind::MotionStart || kind == EventKind::MotionEnd)
        Q_EMIT motionChanged(kind == EventKind::MotionStart);
    Event event;
    event.kind = kind;
    event.time = QDateTime::currentDateTime();
    event.fields = std::move(fields);
    event.clockMs = m_clock();
    if (result != nullptr) {
        event.timed = result->timed;
        event.marked = result->marked;
        event.snapshot = result->snapshot;
    }
    QMetaObject::invokeMethod(
        &m_store, [store = &m_store, event] { store->store(event); }, Qt::QueuedConnection);
}

void Watcher::stored(const Event &event)
{
    Q_ASSERT(QThread::currentThread() == thread());
    Q_EMIT eventFolderChanged(event.written, event.written ? QString() : m_storeTrouble);
    Q_EMIT recorded(event);
    if (event.kind == EventKind::MotionStart) {
        notify(DETECTION_MESSAGE, QLocale().toString(event.time, QLocale::LongFormat),
            event.picturePath, event.pictureName);
    }
    // A motion-end's command waits for its clip.
    if (!event.clipPending)
        runCommand(event);
}

void Watcher::clipStored(const Event &event)
{
    Q_ASSERT(QThread::currentThread() == thread());
    Q_EMIT clipRecorded(event);
    runCommand(event);
}

void Watcher::release(const QString &picture)
{
    if (picture.isEmpty())
        return;
    QMetaObject::invokeMethod(&m_store, [store = QPointer(&m_store), picture] {
        if (store)
            store->release(picture);
    });
}

void Watcher::runCommand(const Event &event)
{
    if (!m_command || !runsCommand(event.kind)) {
        release(event.heldPicture);
        return;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TIRVEL_EVENT"), eventName(event.kind));
    environment.insert(
        QStringLiteral("TIRVEL_TIME"), event.record().value(QStringLiteral("time")).toString());
    environment.insert(QStringLiteral("TIRVEL_COUNT"),
        QString::number(event.fields.value(QStringLiteral("count")).toInt()));
    environment.insert(QStringLiteral("TIRVEL_PICTURE"), event.picturePath);
    environment.insert(QStringLiteral("TIRVEL_SNAPSHOT"), event.snapshotPath);
    environment.insert(QStringLiteral("TIRVEL_CLIP"), event.clipPath);
    if (!m_command->run(environment, event.heldPicture))
        release(event.heldPicture);
}

} // namespace tirvel
