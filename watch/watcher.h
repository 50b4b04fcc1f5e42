#pragma once

#include "camera_supervisor.h"
#include "clock.h"
#include "event_command.h"
#include "event_log.h"
#include "event_pictures.h"
#include "motion_events.h"
#include "notifier.h"

#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <memory>

namespace tirvel {

struct WatchSettings
{
    QString eventFolder;
    int eventGapSeconds = 10;
    int keepEvents = 1000;
    // The --on-event program and its arguments; empty for none.
    QStringList command;
    // Watching its own camera, rather than frames an outside writer puts in the folder.
    bool ownCamera = false;
    // The desktop id, which notifications carry.
    QString desktopId;
    // Without a picture this long, the camera is lost;
    int cameraLostMs = 2000;
    // without a new 6.bmp this long, an outside writer's frames are stale.
    int framesStaleMs = 10000;
};

// Keeps watch: it turns the detector's results into events, each with a picture, a line in the
// log, a desktop notification and the --on-event command, and raises its own events when the
// camera gives no picture or an outside writer's frames stop changing. While the camera is lost
// the detector's own tests are held back, so that stale frames never read as a quiet room.
class Watcher : public QObject
{
    Q_OBJECT

public:
    Watcher(WatchSettings settings, Clock clock, QObject *parent = nullptr);
    ~Watcher() override;

    bool isWatching() const { return m_watching; }
    // Ends a running --on-event command, as the program ends.
    void endCommand();

public Q_SLOTS:
    void setWatching(bool watching);
    // What the detector says, in the order it says it.
    void timedFrameChanged(const QImage &picture);
    void testFrameChanged(const QImage &picture);
    void testFrameRead(const QImage &picture);
    void tested(int count, bool detected);
    void cameraStatusChanged(tirvel::CameraStatus status);

Q_SIGNALS:
    void watchingChanged(bool watching);
    void automaticTestsPaused(bool paused);
    // Something the person must hear of: a picture or log line that cannot be written, a failing
    // command.
    void problem(const QString &description);
    // Said once, to standard error: notifications do not reach anybody.
    void notificationsUnavailable(const QString &why);
    // Every event as the log has it.
    void recorded(const QJsonObject &event);

private:
    void check();
    void record(const QString &kind, QJsonObject fields, const QString &picturePath = {});
    void endMotion();
    void setCameraLost(bool lost);
    void setFramesStale(bool stale);
    // The camera lost, or the frames stale: said once each way while watching.
    void setBlind(bool &state, bool blind, const QString &goneKind, const QString &backKind,
        const QString &summary);
    void notify(const QString &summary, const QString &body, const QString &imagePath = {});

    WatchSettings m_settings;
    Clock m_clock;
    MotionEvents m_motion;
    EventLog m_log;
    EventPictures m_pictures;
    // On a thread of its own: even connecting to the session bus is a wait.
    QThread *m_notifierThread;
    Notifier *m_notifier;
    std::unique_ptr<EventCommand> m_command;
    QTimer m_check;
    bool m_watching = false;
    QImage m_timed;
    QImage m_marked;

    bool m_showing = false;
    qint64 m_pictureGoneMs = 0;
    bool m_cameraLost = false;
    QImage m_lastTestFrame;
    qint64 m_lastNewFrameMs = 0;
    bool m_framesStale = false;
};

} // namespace tirvel
