#pragma once

#include <QImage>

#include <deque>
#include <vector>

namespace tirvel {

// A camera picture and when it was shown, on the program's monotonic clock.
struct TimedFrame
{
    QImage image {};
    qint64 ms = 0;
};

// The camera's last seconds, kept in memory so that a clip can begin before the detection that
// starts it. The pictures are shared with the live view, so keeping one costs no copy, only the
// memory it holds on to; past the bytes allowed, the ring keeps fewer pictures a second rather
// than fewer seconds.
class FrameRing
{
public:
    FrameRing(qint64 spanMs, qint64 mostBytes);

    void add(const QImage &image, qint64 ms);
    // The frames shown at ms or later, oldest first.
    std::vector<TimedFrame> since(qint64 ms) const;
    void clear();
    qint64 bytes() const { return m_bytes; }
    std::size_t size() const { return m_frames.size(); }

private:
    qint64 m_spanMs;
    qint64 m_mostBytes;
    qint64 m_bytes = 0;
    std::deque<TimedFrame> m_frames;
};

} // namespace tirvel
