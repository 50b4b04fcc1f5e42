#pragma once

#include "clock.h"
#include "detector.h"
#include "event.h"
#include "event_command.h"
#include "motion_events.h"
#include "report_once.h"
#include "test_result.h"

#include <QImage>
#include <QObject>
#include <QTimer>

#include <memory>

namespace tirvel {

class EventStore;
class Notifier;

struct WatchSettings
{
    int eventGapSeconds = 0;
    // The --on-event program and its arguments; empty for none.
    QStringList command;
    EventCommand::Timing commandTiming;
    // Watching its own camera, rather than frames an outside writer puts in the folder.
    bool ownCamera = false;
    // The frames tests read, for the rule that a failing one is reported once.
    FramePaths frames;
    // Without a picture this long, the camera is lost;
    int cameraLostMs = 2000;
    // without a new 6.bmp this long, an outside writer's frames are stale.
    int framesStaleMs = 10000;
};

// Decides everything watching means. Each test's picture becomes the next 5.bmp, so no change falls
// between two tests. While the camera is lost or an outside writer's frames stand still, no result
// opens an event, and with no camera no test is asked for: still frames would read as a quiet
// room. A frame file that goes on failing is reported once until it is read again, not every
// second; only a click of Test outside watching hears of each failure. Until its own camera's
// first picture is read, a missing frame is no failure at all.
class Watcher : public QObject
{
    Q_OBJECT

public:
    // Events are stored through store, which may live on another thread; without a notifier
    // nobody is notified.
    Watcher(WatchSettings settings, const Clock &clock, EventStore &store, Notifier *notifier,
        QObject *parent = nullptr);
    ~Watcher() override;

    bool isWatching() const { return m_watching; }
    // Ends a running --on-event command, as the program ends.
    void endCommand();
    // Ends an open event, as the program ends, so the log says it ended.
    void endEvent() { endMotion(); }
    // Records an event about Tirvel itself while watching, when the log is in use.
    void recordNote(EventKind kind, QJsonObject fields = {});

public Q_SLOTS:
    // by, for the log: who switched it ("start", "window", "broker"), and how many switches this
    // one stands for. Watching starts once the event folder is open, and watchingChanged() says
    // whether it did.
    void setWatching(bool watching, const QString &by = {}, int switches = 1);
    // What the detector says.
    void ticked();
    void tested(const tirvel::TestResult &result);
    void testFailed(int number, const QString &description, const QString &file);
    void cameraShowingChanged(bool showing);

Q_SIGNALS:
    void watchingChanged(bool watching);
    // A test is due.
    void testWanted();
    // Watching, each test's picture is the next 5.bmp.
    void timedFrameDue(const QImage &picture);
    // Something the person must hear of: a frame that cannot be read, a picture or log line that
    // cannot be written, a failing command.
    void report(int number, const QString &description);
    // Every event once it is stored, as the log has it, with its picture.
    void recorded(const tirvel::Event &event);
    // A motion-end's clip once it is whole (clipPath) or could not be.
    void clipRecorded(const tirvel::Event &event);
    // Watching its own camera, a frame file is missing because no picture has come yet: said
    // once, in place of a report.
    void waitingForPicture();
    // Watching, as the camera is lost or back and another program's frames go stale or new.
    void blindChanged(bool cameraLost, bool framesStale);
    // A motion event opened or ended.
    void motionChanged(bool open);
    // Whether the event folder took the last that was written to it, and if not why: said as
    // watching starts, and after each event.
    void eventFolderChanged(bool writable, const QString &why);
    // What the person should know that is not a failure: events the command was not run for,
    // pictures the folder holds from a time still to come.
    void noted(const QString &description);

private:
    void check();
    void record(EventKind kind, QJsonObject fields = {}, const TestResult *result = nullptr);
    void stored(const Event &event);
    void clipStored(const Event &event);
    void runCommand(const Event &event);
    // Gives a picture held for a command back to the store.
    void release(const QString &picture);
    void folderOpened(bool opened, const QString &refusal);
    // Writing into the event folder or running the command failed.
    void reportFailure(const QString &description);
    void storeFailed(const QString &description);
    void diskSpaceChanged(bool low, qint64 freeBytes);
    // Either frame may fail anew once watching is switched.
    void forgetFrameFailures();
    void endMotion();
    void setCameraLost(bool lost);
    void setFramesStale(bool stale);
    // Frames that tell nothing of the room: the camera lost, or an outside writer's frames stale.
    bool blind() const { return m_cameraLost || m_framesStale; }
    // Said once each way while watching.
    void setBlind(bool &state, bool blind, EventKind gone, EventKind back);
    // With a reference (the event's picture), the notification offers to show the event.
    void notify(const QString &summary, const QString &body, const QString &imagePath = {},
        const QString &reference = {});

    WatchSettings m_settings;
    Clock m_clock;
    MotionEvents m_motion;
    EventStore &m_store;
    Notifier *m_notifier;
    std::unique_ptr<EventCommand> m_command;
    // Events the command was not run for have been said, until it catches up.
    bool m_saidDropped = false;
    QTimer m_check;
    QTimer m_automaticTest;
    bool m_watching = false;
    // Watching asked for, until the event folder answers; who asked, for the log.
    bool m_opening = false;
    QJsonObject m_openedBy;
    // Watching, a frame file's failure is said once until it is read again; ReportOnce passes
    // on only the words, so the number waits here.
    ReportOnce m_frameReports;
    int m_frameErrorNumber = 0;
    bool m_frameRead = false;
    bool m_waitingSaid = false;

    bool m_showing = false;
    qint64 m_pictureGoneMs = 0;
    bool m_cameraLost = false;
    QImage m_lastTestFrame;
    // What the store said last, for an event it could not write.
    QString m_storeTrouble;
    qint64 m_lastNewFrameMs = 0;
    bool m_framesStale = false;
};

} // namespace tirvel
