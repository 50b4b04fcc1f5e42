#include "frame_ring.h"

namespace tirvel {

FrameRing::FrameRing(qint64 spanMs, qint64 mostBytes)
    : m_spanMs(spanMs)
    , m_mostBytes(mostBytes)
{
}

void FrameRing::add(const QImage &image, qint64 ms)
{
    const qint64 size = image.sizeInBytes();
    // A span of pictures this big fits only this far apart.
    const qint64 spacingMs = m_mostBytes > 0 ? m_spanMs * size / m_mostBytes : 0;
    if (!m_frames.empty() && ms - m_frames.back().ms < spacingMs)
        return;
    m_frames.push_back({image, ms});
    m_bytes += size;
    while (!m_frames.empty()
        && (m_frames.front().ms < ms - m_spanMs
            || (m_bytes > m_mostBytes && m_frames.size() > 1))) {
        m_bytes -= m_frames.front().image.sizeInBytes();
        m_frames.pop_front();
    }
}

std::vector<TimedFrame> FrameRing::since(qint64 ms) const
{
    std::vector<TimedFrame> frames;
    for (const TimedFrame &frame : m_frames) {
        if (frame.ms >= ms)
            frames.push_back(frame);
    }
    return frames;
}

void FrameRing::clear()
{
    m_frames.clear();
    m_bytes = 0;
}

} // namespace tirvel
