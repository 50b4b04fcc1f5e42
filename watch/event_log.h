#pragma once

#include <QJsonObject>
#include <QString>

namespace tirvel {

class EventFolder;
class ReportOnce;

// events.jsonl: one JSON object a line, for people and programs to read back. Each line is added
// with a single write, and a line cut short (a full disk) is taken back, so a line is whole or
// absent, and it is on the disk before append() returns. Only a regular file of the user's own
// with no other name is written to; a pipe, a device, a link or anything else planted under the
// name is left alone and said once, and nothing waits on it. At 10 MB the log is renamed to
// events.jsonl.1, replacing the one before, and begun anew; when that fails, lines go on being
// added to events.jsonl rather than being lost.
class EventLog
{
public:
    static constexpr qint64 ROTATE_BYTES = 10LL * 1024 * 1024;
    static constexpr const char *NAME = "events.jsonl";
    static constexpr const char *OLD_NAME = "events.jsonl.1";

    EventLog(EventFolder &folder, ReportOnce &reports);

    // What goes wrong is reported, once for each file until it is written again.
    void append(const QJsonObject &record);

private:
    void turnOver();
    // The descriptor of the log opened for appending, or -1 when it is not to be written.
    int open();

    EventFolder &m_folder;
    ReportOnce &m_reports;
};

} // namespace tirvel
