#pragma once

#include "clock.h"
#include "frame_throttle.h"
#include "report_once.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <functional>

namespace tirvel {

// Puts the camera's pictures into the two frame files: the test frame 6.bmp at most five times a
// second and the timed frame 5.bmp once a second, as 24-bit bitmaps, readable by this user only.
// Each file is written whole beside its place and renamed over it, so no reader ever sees half a
// frame. A file that cannot be written is reported once, and again only after it has been
// written since. It may live on a thread of its own, so that a slow disk holds up only the files:
// a picture that has waited there longer than the lag allowed (a second) is passed over for the
// newer ones behind it, so a disk that cannot keep up never makes the pictures pile up.
class FrameWriter : public QObject
{
    Q_OBJECT

public:
    // Puts bytes at path in one step; answers an empty string, or what went wrong.
    using Store = std::function<QString(const QString &path, const QByteArray &bytes)>;
    // A picture that waited longer than this is passed over.
    static constexpr qint64 MAX_LAG_MS = 1000;

    FrameWriter(const QString &directory, Clock clock, QObject *parent = nullptr);
    FrameWriter(const QString &directory, Clock clock, Store store, qint64 maxLagMs = MAX_LAG_MS,
        QObject *parent = nullptr);

    // A null picture, which the camera gives when its picture goes, is not written. takenMs is
    // when the picture came, on the writer's clock.
    void write(const QImage &picture);
    void writeTaken(const QImage &picture, qint64 takenMs);
    // Watching, each test's 6.bmp becomes the next 5.bmp, so that every picture is compared with
    // the one before and no change falls between two tests: 5.bmp is then written only by
    // writeTimedFrame(), once one has come.
    void setTimedFramesFromTests(bool fromTests);
    void writeTimedFrame(const QImage &picture);

    static QByteArray encode(const QImage &picture);

Q_SIGNALS:
    void failed(const QString &description);

private:
    void store(const QString &name, const QByteArray &bytes);

    QString m_directory;
    Clock m_clock;
    Store m_store;
    qint64 m_maxLagMs;
    FrameThrottle m_testFrames;
    FrameThrottle m_timedFrames;
    ReportOnce m_reports;
    bool m_timedFramesFromTests = false;
    bool m_timedFramesGiven = false;
    bool m_tidied = false;
};

} // namespace tirvel
