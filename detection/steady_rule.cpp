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
// it at a handful of 4,524 points, but almost never at two side by side.
constexpr double NOISE_DEVIATIONS = 3.5;
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
constexpr std::int32_t GAIN_ONE = 1024;

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
        // Every sixth point each way is plenty for six numbers.
        std::vector<std::size_t> points;
        for (int column = 0; column < grid.columns; column += 6) {
            for (int row = 0; row < grid.rows; row += 6) {
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
        return clamped(along(u), v);
    }

    // The surface down one column, u fixed: a + b v + c v², as {a, b, c}.
    std::array<double, 3> along(double u) const
    {
        const std::array<double, TERMS> &k = m_coefficients;
        return {k[0] + k[1] * u + k[3] * u * u, k[2] + k[4] * u, k[5]};
    }

    static double clamped(const std::array<double, 3> &column, double v)
    {
        const double gain = column[0] + (column[1] + column[2] * v) * v;
        return std::clamp(gain, 1 / MOST_LIGHT_CHANGE, MOST_LIGHT_CHANGE);
    }

    // Where a column or row lies, within -1 … 1.
    static double coordinate(int index, int count)
    {
        return 2.0 * index / std::max(1, count - 1) - 1;
    }

private:
    std::size_t index(int column, int row) const
    {
        return std::size_t(column) * std::size_t(m_grid.rows) + std::size_t(row);
    }

    std::pair<double, double> place(std::size_t i) const
    {
        return {coordinate(int(i / std::size_t(m_grid.rows)), m_grid.columns),
            coordinate(int(i % std::size_t(m_grid.rows)), m_grid.rows)};
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
                for (int b = a; b < TERMS; ++b)
                    system[a][b] += t[a] * t[b];
                system[a][TERMS] += t[a] * r;
            }
        }
        for (int a = 0; a < TERMS; ++a) {
            for (int b = 0; b < a; ++b)
                system[a][b] = system[b][a];
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
