#pragma once

#include <QJsonObject>
#include <QString>

namespace tirvel {

// events.jsonl: one JSON object a line, for people and programs to read back. Each line is added
// with a single write to a file opened for appending and never through a link, and a line cut
// short (a full disk) is taken back, so a line is whole or absent, and a line is on the disk
// before append() returns. At 10 MB the log is renamed
// to events.jsonl.1, replacing the one before, and begun anew.
class EventLog
{
public:
    static constexpr qint64 ROTATE_BYTES = 10LL * 1024 * 1024;

    explicit EventLog(const QString &folder);

    // Empty, or what went wrong.
    QString append(const QJsonObject &record);
    QString path() const { return m_path; }

private:
    QString m_path;
};

} // namespace tirvel
