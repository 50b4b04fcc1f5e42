#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

namespace tirvel {

// The picture of each event: the timed frame and the marked test frame side by side, as a PNG
// named after the time in UTC (20261207T130305Z.png, then -2, -3 … on a collision), so that the
// names sort by time whatever the clock does in summer. Written as the frames are, readable by
// the user only; past the number to keep, the oldest go, and only files of that name pattern that
// are the user's own. Each picture is on the disk, not only in its cache, before save() returns.
class EventPictures
{
public:
    EventPictures(const QString &folder, int keep);

    // The picture's file name, or an empty one and what went wrong.
    QString save(const QByteArray &png, const QDateTime &time, QString &problem);
    QString folder() const { return m_folder; }

    static QImage compose(const QImage &timed, const QImage &marked);
    // The composed picture as PNG.
    static QByteArray encode(const QImage &timed, const QImage &marked);

private:
    void prune();

    QString m_folder;
    int m_keep;
};

} // namespace tirvel
