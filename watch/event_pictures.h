#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <optional>

namespace tirvel {

class EventFolder;
class ReportOnce;

// The picture of each event: the timed frame and the marked test frame side by side, as a PNG
// named after the time in UTC (20261207T130305Z.png, then -2, -3 … on a collision), so that the
// names sort by time whatever the clock does in summer; readable by the user only, and on the
// disk, not only in its cache, before save() returns. Past the number to keep, the oldest go,
// oldest first by the order they were written, never the one just saved. Which pictures there are
// is read from the folder once and then kept up as they are saved, so an event costs the same
// with a hundred thousand pictures as with ten. Only regular files of the user's own with no other
// name, named exactly as Tirvel names them, are ever removed; a name of a time still to come (the
// clock was ahead) is left out of pruning, and said once.
class EventPictures
{
public:
    EventPictures(EventFolder &folder, int keep, ReportOnce &reports);

    // Reads which pictures the folder holds, once for each folder held.
    void prepare();
    // The picture's file name, or an empty one when it could not be saved, which is reported.
    QString save(const QByteArray &png, const QDateTime &time);

    static QImage compose(const QImage &timed, const QImage &marked);
    // The composed picture as PNG.
    static QByteArray encode(const QImage &timed, const QImage &marked);

private:
    // A picture's name: its time as the digits yyyyMMddhhmmss, and its number within that
    // second (1 for the first, which carries none); the inode of one Tirvel wrote, 0 otherwise.
    struct Picture
    {
        std::uint64_t time = 0;
        std::uint32_t number = 1;
        ino_t inode = 0;
    };
    static std::optional<Picture> parse(const char *name);
    static QString nameOf(const Picture &picture);
    void prune();

    EventFolder &m_folder;
    ReportOnce &m_reports;
    std::size_t m_keep;
    int m_generation = 0;
    // Oldest first.
    std::deque<Picture> m_pictures;
};

} // namespace tirvel
