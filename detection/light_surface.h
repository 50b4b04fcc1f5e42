#pragma once

#include "steady_rule.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace tirvel {

// Light is evened out only within this factor either way; a bigger jump (a covered camera, a
// room gone black) is a change to see.
inline constexpr double MOST_LIGHT_CHANGE = 2.0;
// Points darker than this, as the measure has it, say little of the light: their noise is most
// of them.
inline constexpr std::int32_t LEAST_LIGHT = 30;
// From a median absolute deviation to a standard deviation, for normal noise.
inline constexpr double MAD_TO_SIGMA = 1.4826;

// The light of the test frame against the timed frame's, point by point: a smooth surface fitted
// to the ratio of their measures, so that a lamp lighting half the room is evened out too.
class LightSurface
{
public:
    static constexpr int TERMS = 6;

    // overall is the median ratio, the surface's start.
    LightSurface(const SampleGrid &grid, double overall);

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
    bool fit(const std::vector<std::size_t> &points, double outlier);

    const SampleGrid &m_grid;
    std::array<double, TERMS> m_coefficients;
};

} // namespace tirvel
