#include "light_surface.h"

#include <cmath>
#include <optional>

namespace tirvel {

namespace {

// The light over the picture is fitted as a quadratic surface; points that stray from a first
// fit by more than this many deviations, or 3 %, are movers and left out of the second.
constexpr double FIT_OUTLIER_DEVIATIONS = 3.0;
constexpr double LEAST_FIT_OUTLIER = 0.03;
constexpr int TERMS = LightSurface::TERMS;

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

} // namespace

LightSurface::LightSurface(const SampleGrid &grid, double overall)
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
    const double outlier
        = std::max(LEAST_FIT_OUTLIER, FIT_OUTLIER_DEVIATIONS * MAD_TO_SIGMA * median(residuals));
    fit(points, outlier);
}

bool LightSurface::fit(const std::vector<std::size_t> &points, double outlier)
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

} // namespace tirvel
