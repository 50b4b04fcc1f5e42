#include "steady_rule.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace tirvel {

namespace {

// Light is evened out only within this factor either way; a bigger jump (a covered camera, a
// room gone black) is a change to see.
constexpr double MOST_LIGHT_CHANGE = 2.0;
// Points darker than this, as the measure has it, say little of the light: their noise is most
// of them.
constexpr std::int32_t LEAST_LIGHT = 30;
// A channel must change by this many noise deviations to count. Noise alone then still passes
// it at a few dozen of 4,524 points, but almost never at two side by side.
constexpr double NOISE_DEVIATIONS = 3.0;
// From a median absolute deviation to a standard deviation, for normal noise.
constexpr double MAD_TO_SIGMA = 1.4826;
// Noise never raises the margin past this, so that a picture changed almost everywhere (which
// makes every difference look like noise) still counts.
constexpr double MOST_MARGIN = 50.0;
// The light over the picture is fitted as a quadratic surface; points that stray from a first
// fit by more than this many deviations, or 3 %, are movers and left out of the second.
constexpr double FIT_OUTLIER_DEVIATIONS = 3.0;
constexpr double LEAST_FIT_OUTLIER = 0.03;
constexpr int TERMS = 6;

std::array<int, 3> channels(ColourValue colour)
{
    return {int(colour & 0xFFu), int((colour >> 8) & 0xFFu), int((colour >> 16) & 0xFFu)};
}

// The terms of the light's surface at a point, both coordinates within -1 … 1.
std::array<double, TERMS> terms(double u, double v)
{
    return {1.0, u, v, u * u, u * v, v * v};
}

// Least squares for the light's surface; nothing when the points do not pin it down.
std::optional<std::array<double, TERMS>> solve(
    std::array<std::array<double, TERMS + 1>, TERMS> system)
{
    for (int column = 0; column < TERMS; ++column) {
        int pivot = column;
        for (int row = column + 1; row < TERMS; ++row) {
            if (std::abs(system[row][column]) > std::abs(system[pivot][column]))
                pivot = row;
        }
        if (std::abs(system[pivot][column]) < 1e-9)
            return std::nullopt;
        std::swap(system[column], system[pivot]);
        for (int row = 0; row < TERMS; ++row) {
            if (row == column)
                continue;
            const double factor = system[row][column] / system[column][column];
            for (int k = column; k <= TERMS; ++k)
                system[row][k] -= factor * system[column][k];
        }
    }
    std::array<double, TERMS> solution {};
    for (int k = 0; k < TERMS; ++k)
        solution[k] = system[k][TERMS] / system[k][k];
    return solution;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The light of the test frame against the timed frame's, point by point: a smooth surface fitted
// to the ratio of their measures, so that a lamp lighting half the room is evened out too.
class LightSurface
{
public:
    LightSurface(const SampleGrid &grid, double overall)
        : m_grid(grid)
        , m_coefficients {overall, 0, 0, 0, 0, 0}
    {
        // Every second point is plenty for six numbers.
        std::vector<std::size_t> points;
        for (int column = 0; column < grid.columns; column += 2) {
            for (int row = 0; row < grid.rows; row += 2) {
                const std::size_t i = index(column, row);
                if (grid.timedMeasure[i] >= LEAST_LIGHT && grid.testMeasure[i] >= 0)
                    points.push_back(i);
            }
        }
        if (!fit(points, 0))
            return;
        std::vector<double> residuals;
        residuals.reserve(points.size());
        for (const std::size_t i : points)
            residuals.push_back(std::abs(ratio(i) - at(i)));
        const double outlier = std::max(
            LEAST_FIT_OUTLIER, FIT_OUTLIER_DEVIATIONS * MAD_TO_SIGMA * median(residuals));
        fit(points, outlier);
    }

    double at(std::size_t i) const
    {
        const auto [u, v] = place(i);
        const std::array<double, TERMS> t = terms(u, v);
        double gain = 0;
        for (int k = 0; k < TERMS; ++k)
            gain += m_coefficients[k] * t[k];
        return std::clamp(gain, 1 / MOST_LIGHT_CHANGE, MOST_LIGHT_CHANGE);
    }

private:
    std::size_t index(int column, int row) const
    {
        return std::size_t(column) * std::size_t(m_grid.rows) + std::size_t(row);
    }

    std::pair<double, double> place(std::size_t i) const
    {
        const auto column = double(i / std::size_t(m_grid.rows));
        const auto row = double(i % std::size_t(m_grid.rows));
        return {2 * column / std::max(1, m_grid.columns - 1) - 1,
            2 * row / std::max(1, m_grid.rows - 1) - 1};
    }

    double ratio(std::size_t i) const
    {
        return double(m_grid.testMeasure[i]) / double(m_grid.timedMeasure[i]);
    }

    // With an outlier bound, only the points the present surface explains that well.
    bool fit(const std::vector<std::size_t> &points, double outlier)
    {
        std::array<std::array<double, TERMS + 1>, TERMS> system {};
        for (const std::size_t i : points) {
            const double r = ratio(i);
            if (outlier > 0 && std::abs(r - at(i)) > outlier)
                continue;
            const auto [u, v] = place(i);
            const std::array<double, TERMS> t = terms(u, v);
            for (int a = 0; a < TERMS; ++a) {
                for (int b = 0; b < TERMS; ++b)
                    system[a][b] += t[a] * t[b];
                system[a][TERMS] += t[a] * r;
            }
        }
        const auto solution = solve(system);
        if (solution)
            m_coefficients = *solution;
        return solution.has_value();
    }

    const SampleGrid &m_grid;
    std::array<double, TERMS> m_coefficients;
};

} // namespace

SteadyOutcome decideSteady(const SampleGrid &grid)
{
    const std::size_t points = grid.timed.size();
    SteadyOutcome outcome;
    outcome.counted.assign(points, false);

    // The light of the whole picture: the median ratio of the two frames' measures.
    std::vector<double> ratios;
    ratios.reserve(points);
    for (std::size_t i = 0; i < points; ++i) {
        if (grid.timedMeasure[i] >= LEAST_LIGHT && grid.testMeasure[i] >= 0)
            ratios.push_back(double(grid.testMeasure[i]) / double(grid.timedMeasure[i]));
    }
    const double overall = ratios.empty() ? 1.0 : median(std::move(ratios));
    const bool evened = overall >= 1 / MOST_LIGHT_CHANGE && overall <= MOST_LIGHT_CHANGE;
    std::optional<LightSurface> light;
    if (evened)
        light.emplace(grid, overall);
    outcome.lightPercent = evened ? int(std::lround((overall - 1) * 100)) : 0;

    // Each point's largest channel change, and the noise of all of them.
    std::vector<int> change(points, -1);
    std::array<std::int32_t, 256> spread {};
    std::int64_t samples = 0;
    for (std::size_t i = 0; i < points; ++i) {
        if (grid.timedMeasure[i] < 0 || grid.testMeasure[i] < 0)
            continue;
        const double gain = light ? light->at(i) : 1.0;
        const std::array<int, 3> before = channels(grid.timed[i]);
        const std::array<int, 3> after = channels(grid.test[i]);
        int largest = 0;
        for (int c = 0; c < 3; ++c) {
            const int difference = int(std::lround(std::abs(after[c] - gain * before[c])));
            largest = std::max(largest, difference);
            ++spread[std::size_t(std::min(difference, 255))];
        }
        samples += 3;
        change[i] = largest;
    }
    // The median absolute change, read between the whole numbers the changes were rounded to:
    // at low noise a whole step is most of the answer.
    double mad = 0;
    std::int64_t seen = 0;
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

    std::vector<bool> over(points, false);
    for (std::size_t i = 0; i < points; ++i) {
        outcome.raw += change[i] > DIFF_THRESHOLD ? 1 : 0;
        over[i] = change[i] > margin;
    }
    for (int column = 0; column < grid.columns; ++column) {
        for (int row = 0; row < grid.rows; ++row) {
            const std::size_t i = std::size_t(column) * std::size_t(grid.rows) + std::size_t(row);
            if (!over[i])
                continue;
            bool neighbour = false;
            for (int dc = -1; dc <= 1 && !neighbour; ++dc) {
                for (int dr = -1; dr <= 1 && !neighbour; ++dr) {
                    const int c = column + dc;
                    const int r = row + dr;
                    neighbour = (dc != 0 || dr != 0) && c >= 0 && c < grid.columns && r >= 0
                        && r < grid.rows
                        && over[std::size_t(c) * std::size_t(grid.rows) + std::size_t(r)];
                }
            }
            if (neighbour) {
                outcome.counted[i] = true;
                ++outcome.count;
            }
        }
    }
    return outcome;
}

} // namespace tirvel
