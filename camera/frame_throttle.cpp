#include "frame_throttle.h"

#include <algorithm>

namespace tirvel {

namespace {

// The share of the interval by which a late frame may pull the next one earlier.
constexpr qint64 LATENESS_FORGIVEN_DIVISOR = 10;

} // namespace

void FrameThrottle::setInterval(qint64 intervalMs)
{
    m_intervalMs = std::max<qint64>(intervalMs, 0);
}

bool FrameThrottle::admit(qint64 nowMs)
{
    if (m_intervalMs == 0)
        return true;
    if (m_nextDueMs && nowMs < *m_nextDueMs)
        return false;
    const qint64 lateness = m_nextDueMs ? nowMs - *m_nextDueMs : 0;
    m_nextDueMs
        = nowMs + m_intervalMs - std::min(lateness, m_intervalMs / LATENESS_FORGIVEN_DIVISOR);
    return true;
}

void FrameThrottle::reset()
{
    m_nextDueMs.reset();
}

} // namespace tirvel
