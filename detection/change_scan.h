#pragma once

#include "detection_state.h"
#include "picture_surface.h"

#include <QString>

#include <concepts>
#include <cstdint>
#include <functional>

namespace tirvel {

// Shown when the count beats the sensitivity.
inline const QString DETECTION_MESSAGE = QStringLiteral("Rörelse har detekterats !");

// Wrapping 32-bit arithmetic without signed overflow.
constexpr std::int32_t wrappingSub(std::int32_t a, std::int32_t b) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

constexpr std::int32_t wrappingAdd(std::int32_t a, std::int32_t b) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

template <typename Measure>
concept ColourMeasure = std::invocable<Measure &,
    ColourValue> && std::convertible_to<std::invoke_result_t<Measure &, ColourValue>, std::int32_t>;

// Samples every second pixel, column by column, up to and including the scan bounds. A point
// counts only when the timed frame measures more than 10 above the test frame, never the other
// way round; each counted point is marked green on the test frame and added to the count. The
// mark goes in after both reads, so it cannot change a later comparison. An error thrown by the
// measure leaves the marks and the count made so far.
template <ColourMeasure Measure>
void scan(
    DetectionState &state, const PictureSurface &timed, PictureSurface &test, Measure &&measure)
{
    // 64-bit walks, so that a bound near the 32-bit limit still ends.
    const std::int64_t width = state.scanWidth;
    const std::int64_t height = state.scanHeight;
    for (std::int64_t x = 0; x <= width; x += SAMPLE_STEP) {
        for (std::int64_t y = 0; y <= height; y += SAMPLE_STEP) {
            const ColourValue timedColour = timed.readPixel(int(x), int(y));
            const ColourValue testColour = test.readPixel(int(x), int(y));
            const std::int32_t timedMeasure = measure(timedColour);
            const std::int32_t testMeasure = measure(testColour);
            if (wrappingSub(timedMeasure, testMeasure) > DIFF_THRESHOLD) {
                test.writePixel(int(x), int(y), MARK_COLOUR);
                state.changeCount = wrappingAdd(state.changeCount, 1);
            }
        }
    }
}

// Empties the result, reads the sensitivity once, and reports movement with the message and one
// beep when the count exceeds 100 less the sensitivity.
void decide(const DetectionState &state, const std::function<int()> &sensitivity,
    const std::function<void(const QString &)> &setResult, const std::function<void()> &beep);

} // namespace tirvel
