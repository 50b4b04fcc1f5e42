#pragma once

#include "event.h"
#include "event_folder.h"
#include "event_log.h"
#include "event_pictures.h"
#include "report_once.h"

#include <QObject>

#include <cstdint>
#include <functional>

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
    // As watching starts: makes the folder when it is missing, and answers through
    // folderOpened() whether it can be used; from then on it is held, and its pictures known.
    void openFolder();
    void store(tirvel::Event event);

Q_SIGNALS:
    // refusal says why a folder that cannot be used is refused.
    void folderOpened(bool opened, const QString &refusal);
    // The event as it was stored, with its picture's name and bytes when it has one.
    void stored(const tirvel::Event &event);
    void failed(const QString &description);
    // The folder's disk has less than 5 % or 500 MB free, or has room again; freeBytes is what
    // is free. Said at a change only, and first when it is low.
    void diskSpaceChanged(bool low, qint64 freeBytes);

private:
    void beforeWrite();
    void checkDisk();

    ReportOnce m_reports;
    EventFolder m_folder;
    EventLog m_log;
    EventPictures m_pictures;
    std::function<void()> m_beforeEachWrite;
    bool m_makeParent = false;
    bool m_diskLow = false;
};

} // namespace tirvel
