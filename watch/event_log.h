#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace tirvel {

class EventFolder;
class ReportOnce;

// events.jsonl, for people and programs to read back. One write a line, and a line cut short taken
// back, so a line is whole or absent; on the disk before append() returns. Only a regular file of
// the user's own with no other name is written, never waited on, so that nothing planted under
// the name is written through or holds the store up. When the log cannot turn over, lines go on
// into events.jsonl rather than being lost.
class EventLog
{
public:
    static constexpr qint64 ROTATE_BYTES = 10LL * 1024 * 1024;
    static constexpr const char *NAME = "events.jsonl";
    static constexpr const char *OLD_NAME = "events.jsonl.1";

    EventLog(EventFolder &folder, ReportOnce &reports);

    // What goes wrong is reported, once for each file until it is written again; false then.
    bool append(const QJsonObject &record);
    // The time of the log's last line when its last motion-start has no motion-end: the program
    // ended without writing one.
    std::optional<QString> unendedSince() const;

private:
    void turnOver();
    // The descriptor of the log opened for appending, or -1 when it is not to be written.
    int open();

    EventFolder &m_folder;
    ReportOnce &m_reports;
};

} // namespace tirvel
