#pragma once

#include "colour_value.h"

#include <cstdint>

namespace tirvel {

// Distance between sample points, in pixels, in both directions.
inline constexpr std::int32_t SAMPLE_STEP = 2;
// A point counts when the timed frame's measure exceeds the test frame's by more than this.
inline constexpr std::int32_t DIFF_THRESHOLD = 10;
// Written at every counted point of the test frame: green 200 in 0x00BBGGRR.
inline constexpr ColourValue MARK_COLOUR = 0x00C800u;
// The slider value is taken from this to give the count that must be exceeded.
inline constexpr std::int32_t SENSITIVITY_BASE = 100;

// What the window keeps between a scan, its decision and the timer: the count only grows until
// the next tick empties it, so tests with no tick between them add up.
struct DetectionState
{
    std::int32_t changeCount = 0;
    std::int32_t scanWidth = 0;
    std::int32_t scanHeight = 0;
};

} // namespace tirvel
