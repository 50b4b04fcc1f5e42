#pragma once

#include "detection_state.h"
#include "picture_surface.h"

#include <QSize>

#include <cstdint>
#include <vector>

namespace tirvel {

// The two frames at the sample points, column by column, as the scan walks them.
struct SampleGrid
{
    int columns = 0;
    int rows = 0;
    std::vector<ColourValue> timed;
    std::vector<ColourValue> test;
    // Each colour's measure; negative where a frame has no pixel.
    std::vector<std::int32_t> timedMeasure;
    std::vector<std::int32_t> testMeasure;
};

// How the steady rule decided one test.
struct SteadyOutcome
{
    std::int32_t count = 0;
    // Points that changed by more than the least margin, before the noise margin and the
    // neighbour rule.
    std::int32_t raw = 0;
    // The change of the whole picture's light that was evened out, in per cent.
    int lightPercent = 0;
    // A channel had to change by more than this for its point to count.
    int margin = 0;
    // For each sample point, whether it counted.
    std::vector<std::uint8_t> counted;
};

// The rule for watching through the night: the same grid, marks, count and decision as the
// described rule, but light that changes over the whole picture (a lamp, a cloud, a camera's
// exposure) is evened out first, within half to double the brightness, and a point counts when
// any one colour channel changes, either way, by more than the frame pair's own noise allows; a
// counted point with no counted neighbour is dropped as noise.
SteadyOutcome decideSteady(const SampleGrid &grid);

// Samples the frames as the described scan does, measuring with the colour measure, decides with
// decideSteady(), marks the test frame and adds to the state's count.
template <ColourMeasure Measure>
SteadyOutcome steadyScan(
    const PictureSurface &timed, PictureSurface &test, DetectionState &state, Measure &&measure)
{
    const QSize bounds = state.scanBounds();
    SampleGrid grid;
    grid.columns = bounds.width() / SAMPLE_STEP + 1;
    grid.rows = bounds.height() / SAMPLE_STEP + 1;
    const auto points = std::size_t(grid.columns) * std::size_t(grid.rows);
    grid.timed.reserve(points);
    grid.test.reserve(points);
    grid.timedMeasure.reserve(points);
    grid.testMeasure.reserve(points);
    for (int column = 0; column < grid.columns; ++column) {
        for (int row = 0; row < grid.rows; ++row) {
            const ColourValue timedColour
                = timed.readPixel(column * SAMPLE_STEP, row * SAMPLE_STEP);
            const ColourValue testColour = test.readPixel(column * SAMPLE_STEP, row * SAMPLE_STEP);
            grid.timed.push_back(timedColour);
            grid.test.push_back(testColour);
            grid.timedMeasure.push_back(measure(timedColour));
            grid.testMeasure.push_back(measure(testColour));
        }
    }
    SteadyOutcome outcome = decideSteady(grid);
    for (int column = 0; column < grid.columns; ++column) {
        for (int row = 0; row < grid.rows; ++row) {
            if (outcome.counted[std::size_t(column) * std::size_t(grid.rows) + std::size_t(row)]
                != 0)
                test.writePixel(column * SAMPLE_STEP, row * SAMPLE_STEP, MARK_COLOUR);
        }
    }
    state.addToCount(outcome.count);
    return outcome;
}

} // namespace tirvel
