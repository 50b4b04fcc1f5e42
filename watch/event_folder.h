#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace tirvel {

class ReportOnce;

// The event folder, held by a descriptor from the start of watching and written only through it,
// because anybody who can write its parent can point the name elsewhere between a check and a
// write. Before each event reach() looks at the name again: a folder removed or moved away is made
// again, private; a private folder of the user's own in its place is taken up; anything else there
// is never written to, and the folder held goes on being used wherever it was moved.
class EventFolder
{
public:
    EventFolder(QString path, ReportOnce &reports);
    ~EventFolder();
    EventFolder(const EventFolder &) = delete;
    EventFolder &operator=(const EventFolder &) = delete;

    // True when there is a folder to write into.
    bool reach();
    // The folder's name, as it was given.
    const QString &path() const { return m_path; }
    // The folder held; -1 while there is none.
    int descriptor() const { return m_descriptor; }
    // Counts the folders held, so that what was read from one is read again from the next.
    int generation() const { return m_generation; }
    // Where the folder held is now, and a file in it, for reports and for those told of a picture.
    QString place() const { return m_where; }
    QString filePath(const QString &name) const;
    // Puts bytes into the file name in one step, on the disk before it returns: written beside it
    // under a name nobody can guess, 0600, and renamed over whatever stands there. Empty, or what
    // went wrong; inode, when given, is the file's.
    QString storeWhole(const QString &name, const QByteArray &bytes, ino_t *inode = nullptr) const;

    // What an entry that is not a regular file is, for a report: "a named pipe".
    static QString oddity(unsigned mode);

private:
    void adopt(int descriptor);
    // Says a situation of the folder once, until another comes.
    void tell(const QString &situation);

    QString m_path;
    // Where the folder held is: its name, or where it was moved.
    QString m_where;
    ReportOnce &m_reports;
    int m_descriptor = -1;
    int m_generation = 0;
    QString m_situation;
};

} // namespace tirvel
