#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

namespace tirvel {

enum class EventKind {
    MotionStart,
    MotionEnd,
    CameraLost,
    CameraBack,
    FramesStale,
    FramesBack,
    // An event came while the last one's --on-event command still ran,
    CommandDropped,
    // or the command ran past its time and was ended.
    CommandEnded,
    // The MQTT broker out of reach, with the reason, and reached again.
    BrokerLost,
    BrokerBack,
    // Watching switched, and by whom.
    WatchOn,
    WatchOff,
    // The camera changed its picture as a whole (night mode, its exposure settling): a note,
    // never motion.
    CameraMode,
    // The event folder's disk nearly full, with how much is free, and with room again.
    DiskLow,
    DiskOk,
    // Events a person deleted, by their pictures.
    Deleted,
};

// The name an event goes by in the log, on the broker and in a command's environment.
QString eventName(EventKind kind);
// Events about the --on-event command itself, which never run it.
bool isCommandEvent(EventKind kind);
// Events about the room and the camera, which run the --on-event command; those about Tirvel
// itself (its command, its broker, watching switched) do not.
bool runsCommand(EventKind kind);

// One event on its way from the watcher through the event folder to whoever hears of it.
struct Event
{
    EventKind kind = EventKind::MotionStart;
    QDateTime time;
    // What the log line carries besides the kind, the time and the picture.
    QJsonObject fields;
    // A motion-start's frames, drawn side by side into its picture.
    QImage timed;
    QImage marked;
    // The camera's own frame of a motion-start, kept as a JPEG beside the picture.
    QImage snapshot;
    // Once stored: the picture's name in the event folder, its path and its bytes; empty when it
    // could not be saved.
    QString pictureName;
    QString picturePath;
    QByteArray pictureBytes;
    // Once stored: the snapshot's name, path and bytes; empty without one.
    QString snapshotName;
    QString snapshotPath;
    QByteArray snapshotBytes;
    // When it happened on the program's monotonic clock, which the camera's pictures share.
    qint64 clockMs = 0;
    // A motion-end's clip: its name once stored; its path once it is whole, and whether it is
    // still being finished.
    QString clipName;
    QString clipPath;
    bool clipPending = false;
    // The picture the store keeps, with its clip, until whoever runs the event's command
    // releases it.
    QString heldPicture;
    // Once stored: whether its picture and its log line reached the disk.
    bool written = false;

    // The log line.
    QJsonObject record() const;
};

} // namespace tirvel

Q_DECLARE_METATYPE(tirvel::Event)
