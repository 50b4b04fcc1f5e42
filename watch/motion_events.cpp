#include "motion_events.h"

#include <algorithm>

namespace tirvel {

MotionEvents::MotionEvents(Clock clock, qint64 gapMs)
    : m_clock(std::move(clock))
    , m_gapMs(gapMs)
{
}

bool MotionEvents::detected(int count)
{
    const bool opens = !m_open;
    if (opens)
        m_summary = {};
    m_open = true;
    m_lastDetectionMs = m_clock();
    m_summary.highestCount = std::max(m_summary.highestCount, count);
    ++m_summary.detections;
    return opens;
}

std::optional<MotionEvents::Summary> MotionEvents::expire()
{
    if (!m_open || m_clock() - m_lastDetectionMs < m_gapMs)
        return std::nullopt;
    return close();
}

std::optional<MotionEvents::Summary> MotionEvents::close()
{
    if (!m_open)
        return std::nullopt;
    m_open = false;
    return m_summary;
}

} // namespace tirvel
