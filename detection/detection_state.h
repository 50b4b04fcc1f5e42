#pragma once

#include "colour_value.h"
#include "picture_surface.h"

#include <QSize>

#include <concepts>
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
// Where the slider starts.
inline constexpr std::int32_t DEFAULT_SENSITIVITY = 50;

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

// Whether a change count reports movement: it must exceed 100 less the sensitivity.
constexpr bool beatsSensitivity(std::int32_t count, std::int32_t sensitivity) noexcept
{
    return count > wrappingSub(SENSITIVITY_BASE, sensitivity);
}

// The change count and the bounds it is gathered in. Only scan() adds to the count and only
// emptyCount() takes it back to 0, so tests with no tick between them add up.
class DetectionState
{
public:
    std::int32_t changeCount() const noexcept { return m_changeCount; }
    void emptyCount() noexcept { m_changeCount = 0; }
    void addToCount(std::int32_t count) noexcept
    {
        m_changeCount = wrappingAdd(m_changeCount, count);
    }

    // The last column and row sampled, inclusive.
    QSize scanBounds() const noexcept { return m_scanBounds; }
    void setScanBounds(QSize bounds) noexcept { m_scanBounds = bounds; }

    // Samples every second pixel, column by column, up to and including the scan bounds. A point
    // counts only when the timed frame measures more than 10 above the test frame, never the
    // other way round; each counted point is marked green on the test frame and added to the
    // count. The mark goes in after both reads, so it cannot change a later comparison. An error
    // thrown by the measure leaves the marks and the count made so far.
    template <ColourMeasure Measure>
    void scan(const PictureSurface &timed, PictureSurface &test, Measure &&measure)
    {
        // 64-bit walks, so that a bound near the 32-bit limit still ends.
        const std::int64_t width = m_scanBounds.width();
        const std::int64_t height = m_scanBounds.height();
        // Counted in a register across the calls into the measure; kept if the measure throws.
        std::int32_t count = m_changeCount;
        try {
            for (std::int64_t x = 0; x <= width; x += SAMPLE_STEP) {
                for (std::int64_t y = 0; y <= height; y += SAMPLE_STEP) {
                    const ColourValue timedColour = timed.readPixel(int(x), int(y));
                    const ColourValue testColour = test.readPixel(int(x), int(y));
                    const std::int32_t timedMeasure = measure(timedColour);
                    const std::int32_t testMeasure = measure(testColour);
                    if (wrappingSub(timedMeasure, testMeasure) > DIFF_THRESHOLD) {
                        test.writePixel(int(x), int(y), MARK_COLOUR);
                        count = wrappingAdd(count, 1);
                    }
                }
            }
        } catch (...) {
            m_changeCount = count;
            throw;
        }
        m_changeCount = count;
    }

private:
    std::int32_t m_changeCount = 0;
    QSize m_scanBounds {0, 0};
};

} // namespace tirvel
