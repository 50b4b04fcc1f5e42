#pragma once

#include "clip_recorder.h"
#include "event.h"
#include "event_folder.h"
#include "event_log.h"
#include "event_pictures.h"
#include "report_once.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace tirvel {

// Puts each event into the event folder in order, the picture before the log line that names it,
// both on the disk before stored() says so, so that an alarm's evidence outlives a power cut right
// after it. It lives on the files' thread, so a slow disk or a file planted in the folder holds up
// only the files.
class EventStore : public QObject
{
    Q_OBJECT

public:
    // beforeEachWrite, when given, runs before every file it writes; a benchmark makes the disk
    // slow with it.
    EventStore(const QString &folder, int keep, std::function<void()> beforeEachWrite = {},
        QObject *parent = nullptr);

    // The folder's parent is made too, as the pictures folder a fresh account may not have yet.
    void makeParent() { m_makeParent = true; }
    // Bounds the pictures by their bytes too (0: by their number only).
    void setKeepBytes(std::uint64_t bytes) { m_pictures.setKeepBytes(bytes); }
    // How long pruning may go on before the events asked for meanwhile are written.
    void setPruneSlice(std::chrono::milliseconds slice) { m_pruneSlice = slice; }
    // Each event's picture is then held from its record until release(), for the --on-event
    // command that is given it.
    void holdForCommands() { m_holdForCommands = true; }
    void release(const QString &picture);
    // As watching starts: makes the folder when it is missing, and answers through
    // folderOpened() whether it can be used; from then on it is held, and its pictures known.
    void openFolder();
    void store(tirvel::Event event);
    // Keeps a clip of each motion event from the camera's pictures, which cameraFrame() brings,
    // on the clock they were shown by. Before watching starts.
    void recordClips(Clock clock, ClipRecorder::Timing timing = {});
    void cameraFrame(const QImage &picture, qint64 ms);
    // Ends the clips being written, waiting at most waitMs for each, and prunes for a slice
    // what the ended commands gave back: the program ends.
    void finishClips(int waitMs);
    // Removes the events of these pictures, with their camera frames and clips, and logs that.
    void forget(const QStringList &pictures);

Q_SIGNALS:
    // refusal says why a folder that cannot be used is refused.
    void folderOpened(bool opened, const QString &refusal);
    // The event as it was stored, with its picture's name and bytes when it has one.
    void stored(const tirvel::Event &event);
    void failed(const QString &description);
    // What the person should know of the folder that is not a failure.
    void noted(const QString &description);
    // The folder's disk has less than 5 % or 500 MB free, or has room again; freeBytes is what
    // is free. Said at a change only, and first when it is low.
    void diskSpaceChanged(bool low, qint64 freeBytes);
    // A motion-end whose clip was still being written, once it is whole (its clipPath set) or
    // could not be.
    void clipStored(const tirvel::Event &event);
    // The events asked to be forgotten are gone, and the log says so.
    void forgotten();

private:
    void beforeWrite();
    void pruneSoon();
    void checkDisk();
    std::unique_ptr<ClipSink> openClip(const QString &name, QSize size);
    void clipClosed(const QString &name, bool whole);

    ReportOnce m_reports;
    EventFolder m_folder;
    EventLog m_log;
    EventPictures m_pictures;
    std::function<void()> m_beforeEachWrite;
    bool m_makeParent = false;
    bool m_diskLow = false;
    bool m_holdForCommands = false;
    bool m_pruneDue = false;
    std::chrono::milliseconds m_pruneSlice {20};
    std::unique_ptr<ClipRecorder> m_clips;
    QTimer m_clipTimer;
    // The clip's name the event begun last has.
    QString m_clipBase;
    // Motion-ends whose clips are still written, by the clips' base names; whether the first
    // part is whole.
    QHash<QString, Event> m_clipEnds;
    QHash<QString, bool> m_clipWhole;
    // The clips being written, which count against the bytes to keep as they grow.
    QStringList m_clipsWritten;
};

} // namespace tirvel
