#pragma once

#include <QtGlobal>

#include <optional>

namespace tirvel {

// Lets at most one frame through per interval, on a clock the caller supplies. A frame that comes
// a little late does not push the next one later by as much, so a camera running faster than the
// interval keeps the full rate in spite of uneven delivery; over any longer stretch no more frames
// pass than the interval allows.
class FrameThrottle
{
public:
    // An interval of 0 lets every frame through.
    void setInterval(qint64 intervalMs);

    bool admit(qint64 nowMs);

    // Forgets the last frame, so the next one passes at once.
    void reset();

private:
    qint64 m_intervalMs = 0;
    std::optional<qint64> m_nextDueMs;
};

} // namespace tirvel
