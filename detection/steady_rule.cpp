#include "steady_rule.h"

#include "light_surface.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace tirvel {

namespace {

// A channel must change by this many noise deviations to count. Noise alone then still passes
// it at a handful of 4,524 points, but almost never at two side by side.
constexpr double NOISE_DEVIATIONS = 3.5;
// Noise never raises the margin past this, so that a picture changed almost everywhere (which
// makes every difference look like noise) still counts.
constexpr double MOST_MARGIN = 50.0;
constexpr std::int32_t GAIN_ONE = 1024;

std::array<int, 3> channels(ColourValue colour)
{
    return {int(colour & 0xFFu), int((colour >> 8) & 0xFFu), int((colour >> 16) & 0xFFu)};
}

} // namespace

SteadyOutcome decideSteady(const SampleGrid &grid)
{
    const std::size_t points = grid.timed.size();
    SteadyOutcome outcome;
    outcome.counted.assign(points, 0);

    // The light of the whole picture: the median ratio of the two frames' measures, to a fifth
    // of a per cent.
    constexpr int RATIO_STEPS = 512;
    std::vector<std::int32_t> ratios(std::size_t(4 * RATIO_STEPS) + 1, 0);
    std::int32_t lit = 0;
    // Every second point each way tells the median well enough, at a quarter of the cost.
    for (std::size_t column = 0; column < std::size_t(grid.columns); column += 2) {
        for (std::size_t row = 0; row < std::size_t(grid.rows); row += 2) {
            const std::size_t i = column * std::size_t(grid.rows) + row;
            if (grid.timedMeasure[i] < LEAST_LIGHT || grid.testMeasure[i] < 0)
                continue;
            const double step = double(grid.testMeasure[i]) * RATIO_STEPS / grid.timedMeasure[i];
            ++ratios[std::size_t(std::min(step, 4.0 * RATIO_STEPS))];
            ++lit;
        }
    }
    double overall = 1.0;
    for (std::int32_t step = 0, seen = 0; lit > 0; ++step) {
        seen += ratios[std::size_t(step)];
        if (2 * seen >= lit) {
            overall = (step + 0.5) / RATIO_STEPS;
            break;
        }
    }
    const bool evened = overall >= 1 / MOST_LIGHT_CHANGE && overall <= MOST_LIGHT_CHANGE;
    std::optional<LightSurface> light;
    if (evened)
        light.emplace(grid, overall);
    outcome.lightPercent = evened ? int(std::lround((overall - 1) * 100)) : 0;

    // Each point's largest channel change, and the noise of all of them.
    std::vector<int> change(points, -1);
    // One count for each channel, so that the three counts of a point never wait on each other.
    std::array<std::array<std::int32_t, 256>, 3> spreads {};
    std::int64_t samples = 0;
    std::vector<double> rowPlaces(std::size_t(grid.rows));
    for (int row = 0; row < grid.rows; ++row)
        rowPlaces[std::size_t(row)] = LightSurface::coordinate(row, grid.rows);
    for (int column = 0; column < grid.columns; ++column) {
        const std::array<double, 3> surface = light
            ? light->along(LightSurface::coordinate(column, grid.columns))
            : std::array<double, 3> {1, 0, 0};
        for (int row = 0; row < grid.rows; ++row) {
            const std::size_t i = std::size_t(column) * std::size_t(grid.rows) + std::size_t(row);
            if (grid.timedMeasure[i] < 0 || grid.testMeasure[i] < 0)
                continue;
            // In 1/1024ths, so that the channels are whole numbers all the way.
            const auto gain = std::int32_t(
                qRound(LightSurface::clamped(surface, rowPlaces[std::size_t(row)]) * GAIN_ONE));
            const std::array<int, 3> before = channels(grid.timed[i]);
            const std::array<int, 3> after = channels(grid.test[i]);
            int largest = 0;
            for (int c = 0; c < 3; ++c) {
                const int difference
                    = (std::abs(after[c] * GAIN_ONE - gain * before[c]) + GAIN_ONE / 2) / GAIN_ONE;
                largest = std::max(largest, difference);
                // Every second point each way measures the noise as well, at a quarter of the cost.
                if (column % 2 == 0 && row % 2 == 0)
                    ++spreads[std::size_t(c)][std::size_t(std::min(difference, 255))];
            }
            samples += column % 2 == 0 && row % 2 == 0 ? 3 : 0;
            change[i] = largest;
        }
    }
    // The median absolute change, read between the whole numbers the changes were rounded to:
    // at low noise a whole step is most of the answer.
    double mad = 0;
    std::int64_t seen = 0;
    std::array<std::int32_t, 256> spread {};
    for (std::size_t value = 0; value < spread.size(); ++value)
        spread[value] = spreads[0][value] + spreads[1][value] + spreads[2][value];
    for (std::size_t value = 0; value < spread.size(); ++value) {
        if (2 * (seen + spread[value]) >= samples && spread[value] > 0) {
            const double start = value == 0 ? 0.0 : double(value) - 0.5;
            const double width = value == 0 ? 0.5 : 1.0;
            mad = start + width * double(samples - 2 * seen) / double(2 * spread[value]);
            break;
        }
        seen += spread[value];
    }
    // Light that jumped too far to even out is a change in itself, not noise.
    const double margin = evened
        ? std::clamp(NOISE_DEVIATIONS * MAD_TO_SIGMA * mad, double(DIFF_THRESHOLD), MOST_MARGIN)
        : double(DIFF_THRESHOLD);
    outcome.margin = int(std::lround(margin));

    std::vector<std::uint8_t> over(points, 0);
    for (std::size_t i = 0; i < points; ++i) {
        outcome.raw += change[i] > DIFF_THRESHOLD ? 1 : 0;
        over[i] = change[i] > margin ? 1 : 0;
    }
    for (int column = 0; column < grid.columns; ++column) {
        for (int row = 0; row < grid.rows; ++row) {
            const std::size_t i = std::size_t(column) * std::size_t(grid.rows) + std::size_t(row);
            if (over[i] == 0)
                continue;
            bool neighbour = false;
            for (int dc = -1; dc <= 1 && !neighbour; ++dc) {
                for (int dr = -1; dr <= 1 && !neighbour; ++dr) {
                    const int c = column + dc;
                    const int r = row + dr;
                    neighbour = (dc != 0 || dr != 0) && c >= 0 && c < grid.columns && r >= 0
                        && r < grid.rows
                        && over[std::size_t(c) * std::size_t(grid.rows) + std::size_t(r)] != 0;
                }
            }
            if (neighbour) {
                outcome.counted[i] = 1;
                ++outcome.count;
            }
        }
    }
    return outcome;
}

} // namespace tirvel
