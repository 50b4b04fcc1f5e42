#pragma once

#include "clock.h"

#include <optional>

namespace tirvel {

// Groups detections into events: a detection opens an event unless one is open, and an event
// closes at the first test that finds nothing once the gap has passed since the last detection,
// or at once when watching stops or the camera is lost. A test comes late under load, so the gap
// alone, a test a few ms late, never ends unbroken movement; only when no test at all comes for a
// while after the gap does the event end without one. Time comes from the clock given, so tests
// can move it by hand.
class MotionEvents
{
public:
    struct Summary
    {
        // The highest count of the event's detections.
        int highestCount = 0;
        int detections = 0;
    };

    MotionEvents(Clock clock, qint64 gapMs);

    // True when this detection opens an event.
    bool detected(int count);
    // A test found nothing.
    void quiet();
    // The event that the gap has closed, if one has.
    std::optional<Summary> expire();
    // The open event, closed now.
    std::optional<Summary> close();
    bool isOpen() const { return m_open; }

private:
    Clock m_clock;
    qint64 m_gapMs;
    bool m_open = false;
    qint64 m_lastDetectionMs = 0;
    qint64 m_lastQuietMs = 0;
    Summary m_summary;
};

} // namespace tirvel
