#pragma once

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tirvel {

class EventFolder;
class ReportOnce;

// Each event's picture, named after its time in UTC so that the names sort by time whatever the
// clock does in summer. Past the number to keep, or the bytes to keep, the oldest written go with
// their camera frames, never the newest and never one a command still needs; pruning is asked for
// separately, in slices, so that a backlog never holds up the next event's record.
// The names are read from the folder once and then kept up, so pruning costs the same with a
// hundred thousand pictures as with ten. Only files named exactly as Tirvel names them, regular,
// the user's own and with no other name, are ever pruned; a name of a time still to come (the
// clock was ahead) is left out of pruning, and said once through note.
class EventPictures
{
public:
    EventPictures(EventFolder &folder, int keep, ReportOnce &reports,
        std::function<void(const QString &)> note = {});

    // The most bytes the pictures and camera frames may take together; 0 bounds only the number.
    void setKeepBytes(std::uint64_t bytes) { m_keepBytes = bytes; }
    // The bytes of clips still being written, which count against the bound too.
    void setPendingBytes(std::uint64_t bytes);
    // Reads which pictures the folder holds, once for each folder held.
    void prepare();
    // Removes what is past the bounds, for about budget at most; true when some is left.
    bool prune(std::chrono::milliseconds budget);
    // A held picture is kept, with all that goes with it, until each hold is released.
    void hold(const QString &picture) { ++m_holds[picture]; }
    void release(const QString &picture);
    // The picture's file name, or an empty one when it could not be saved, which is reported.
    QString save(const QByteArray &png, const QDateTime &time);

    static QImage compose(const QImage &timed, const QImage &marked);
    // The composed picture as PNG.
    static QByteArray encode(const QImage &timed, const QImage &marked);
    // The camera's own frame as JPEG.
    static QByteArray encodeSnapshot(const QImage &frame);
    // Keeps the camera's frame of the picture saved last under its name with .jpg, pruned with
    // it; the name, or an empty one when it could not be saved, which is reported.
    QString saveSnapshot(const QByteArray &jpeg);
    // Counts a whole clip of the picture with its bytes, pruned with it; false when the picture
    // is no longer kept, and the clip should go too.
    bool addClip(const QString &picture, int part, std::uint64_t bytes);
    // What a file named so belongs to: its picture's name and, for a clip, which part it is (0
    // for the picture itself or its camera frame); nothing for an ending Tirvel never gives.
    struct Owner
    {
        std::string picture;
        bool frame = false;
        int part = 0;
    };
    static std::optional<Owner> ownerOf(std::string name);
    // Removes the pictures named and all that goes with them, of those it keeps.
    void forget(const QStringList &pictures);

private:
    // A picture's name: its time as the digits yyyyMMddhhmmss, and its number within that
    // second (1 for the first, which carries none); the inode of one Tirvel wrote, 0 otherwise.
    struct Picture
    {
        std::uint64_t time = 0;
        std::uint32_t number = 1;
        ino_t inode = 0;
        ino_t snapshotInode = 0;
        // The parts of its clip and their bytes, by part; known by name.
        std::vector<std::pair<int, std::uint64_t>> clips;
        // The picture's and its camera frame's, as far as known.
        std::uint64_t bytes = 0;
    };
    static std::optional<Picture> parse(const char *name);
    static QString nameOf(const Picture &picture, const char *ending = ".png");
    // Removes the file if it is still the one Tirvel wrote there (any, when inode is 0).
    void remove(const QString &name, ino_t inode) const;
    bool held(const Picture &picture) const;
    // Removes the picture and its camera frame and clips.
    void removeAll(const Picture &picture) const;

    EventFolder &m_folder;
    ReportOnce &m_reports;
    std::function<void(const QString &)> m_note;
    std::size_t m_keep;
    std::uint64_t m_keepBytes = 0;
    std::uint64_t m_bytes = 0;
    std::uint64_t m_pendingBytes = 0;
    int m_generation = 0;
    // Oldest first.
    std::deque<Picture> m_pictures;
    QHash<QString, int> m_holds;
};

} // namespace tirvel
