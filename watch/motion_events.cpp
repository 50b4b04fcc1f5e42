#include "motion_events.h"

#include <algorithm>

namespace tirvel {

namespace {

// Tests come a second apart: one half a second early still counts as after the gap.
constexpr qint64 CADENCE_SLACK_MS = 500;
// With no test at all for this long after the gap, the event ends without one.
constexpr qint64 NO_TEST_MS = 5000;

} // namespace

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

void MotionEvents::quiet()
{
    m_lastQuietMs = m_clock();
}

std::optional<MotionEvents::Summary> MotionEvents::expire()
{
    if (!m_open)
        return std::nullopt;
    const bool quietAfterGap = m_lastQuietMs - m_lastDetectionMs >= m_gapMs - CADENCE_SLACK_MS;
    const bool noTests = m_clock() - m_lastDetectionMs >= m_gapMs + NO_TEST_MS;
    if (!quietAfterGap && !noTests)
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
