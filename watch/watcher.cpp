#include "watcher.h"

#include "private_folder.h"

#include <QDateTime>
#include <QDir>

namespace tirvel {

namespace {

constexpr int CHECK_INTERVAL_MS = 250;
const QString DETECTION_MESSAGE = QStringLiteral("Rörelse har detekterats !");

QString timeText(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

Watcher::Watcher(WatchSettings settings, Clock clock, QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_clock(clock)
    , m_motion(clock, qint64(m_settings.eventGapSeconds) * 1000)
    , m_log(m_settings.eventFolder)
    , m_pictures(m_settings.eventFolder, m_settings.keepEvents)
    , m_notifierThread(new QThread)
    , m_notifier(new Notifier(m_settings.desktopId))
{
    m_notifier->moveToThread(m_notifierThread);
    connect(m_notifierThread, &QThread::finished, m_notifier, &QObject::deleteLater);
    m_notifierThread->start();
    if (!m_settings.command.isEmpty()) {
        m_command = std::make_unique<EventCommand>(m_settings.command);
        connect(m_command.get(), &EventCommand::failed, this, &Watcher::problem);
        connect(m_command.get(), &EventCommand::dropped, this,
            [this] { record(QStringLiteral("command-dropped"), {}); });
        connect(m_command.get(), &EventCommand::timedOut, this,
            [this] { record(QStringLiteral("command-ended"), {}); });
    }
    connect(m_notifier, &Notifier::unavailable, this, &Watcher::notificationsUnavailable);
    m_check.setInterval(CHECK_INTERVAL_MS);
    connect(&m_check, &QTimer::timeout, this, &Watcher::check);
}

Watcher::~Watcher()
{
    endCommand();
    m_notifierThread->quit();
    // A bus that never answers must not hold up the end: such a thread is left to the end of
    // the process.
    if (m_notifierThread->wait(500))
        delete m_notifierThread;
}

void Watcher::notify(const QString &summary, const QString &body, const QString &imagePath)
{
    QMetaObject::invokeMethod(m_notifier, [notifier = m_notifier, summary, body, imagePath] {
        notifier->notify(summary, body, imagePath);
    });
}

void Watcher::endCommand()
{
    if (m_command)
        m_command->end();
}

void Watcher::setWatching(bool watching)
{
    if (watching == m_watching)
        return;
    if (watching) {
        if (const auto why
            = claimPrivateFolder(QStringLiteral("event folder"), m_settings.eventFolder, true)) {
            Q_EMIT problem(*why);
            Q_EMIT watchingChanged(false);
            return;
        }
        m_watching = true;
        m_pictureGoneMs = m_clock();
        m_lastNewFrameMs = m_clock();
        m_check.start();
    } else {
        endMotion();
        setCameraLost(false);
        setFramesStale(false);
        m_watching = false;
        m_check.stop();
    }
    Q_EMIT watchingChanged(m_watching);
}

void Watcher::timedFrameChanged(const QImage &picture)
{
    m_timed = picture;
}

void Watcher::testFrameChanged(const QImage &picture)
{
    m_marked = picture;
}

void Watcher::testFrameRead(const QImage &picture)
{
    if (picture == m_lastTestFrame)
        return;
    m_lastTestFrame = picture;
    m_lastNewFrameMs = m_clock();
    setFramesStale(false);
}

void Watcher::tested(int count, bool detected)
{
    // Frames that no longer come tell nothing of the room.
    if (!m_watching || !detected || m_cameraLost || m_framesStale)
        return;
    if (!m_motion.detected(count))
        return;
    const QDateTime now = QDateTime::currentDateTime();
    QString why;
    const QString picture = m_pictures.save(m_timed, m_marked, now, why);
    if (!why.isEmpty())
        Q_EMIT problem(QStringLiteral("Cannot save the event's picture in '%1': %2")
                           .arg(m_settings.eventFolder, why));
    const QString path
        = picture.isEmpty() ? QString() : QDir(m_settings.eventFolder).filePath(picture);
    QJsonObject fields {{QStringLiteral("count"), count}};
    if (!picture.isEmpty())
        fields.insert(QStringLiteral("picture"), picture);
    record(QStringLiteral("motion-start"), fields, path);
    notify(DETECTION_MESSAGE, QLocale().toString(now, QLocale::LongFormat), path);
}

void Watcher::cameraStatusChanged(CameraStatus status)
{
    const bool showing = status == CameraStatus::Showing;
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
        record(QStringLiteral("motion-end"),
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
        record(QStringLiteral("motion-end"),
            {{QStringLiteral("count"), ended->highestCount},
                {QStringLiteral("detections"), ended->detections}});
    }
}

void Watcher::setCameraLost(bool lost)
{
    if (lost != m_cameraLost)
        Q_EMIT automaticTestsPaused(lost);
    setBlind(m_cameraLost, lost, QStringLiteral("camera-lost"), QStringLiteral("camera-back"),
        QStringLiteral("Kameran ger ingen bild"));
}

void Watcher::setFramesStale(bool stale)
{
    setBlind(m_framesStale, stale, QStringLiteral("frames-stale"), QStringLiteral("frames-back"),
        QStringLiteral("Inga nya bilder"));
}

void Watcher::setBlind(bool &state, bool blind, const QString &goneKind, const QString &backKind,
    const QString &summary)
{
    if (blind == state)
        return;
    state = blind;
    if (!m_watching)
        return;
    if (!blind) {
        record(backKind, {});
        return;
    }
    // Nothing new can be seen; an open event ends here.
    endMotion();
    record(goneKind, {});
    notify(summary, QLocale().toString(QDateTime::currentDateTime(), QLocale::LongFormat));
}

void Watcher::record(const QString &kind, QJsonObject fields, const QString &picturePath)
{
    const QDateTime now = QDateTime::currentDateTime();
    fields.insert(QStringLiteral("event"), kind);
    fields.insert(QStringLiteral("time"), timeText(now));
    const QString why = m_log.append(fields);
    if (!why.isEmpty())
        Q_EMIT problem(QStringLiteral("Cannot write '%1': %2").arg(m_log.path(), why));
    Q_EMIT recorded(fields);
    if (!m_command || kind.startsWith(QLatin1String("command-")))
        return;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TIRVEL_EVENT"), kind);
    environment.insert(
        QStringLiteral("TIRVEL_TIME"), fields.value(QStringLiteral("time")).toString());
    environment.insert(QStringLiteral("TIRVEL_COUNT"),
        QString::number(fields.value(QStringLiteral("count")).toInt()));
    environment.insert(QStringLiteral("TIRVEL_PICTURE"), picturePath);
    m_command->run(environment);
}

} // namespace tirvel
