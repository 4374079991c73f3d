#include "engine/reconstruction/local/surface/support_plane.h"

#include <algorithm>

namespace pelorin::engine::local {

namespace {
// Levels the cloud's height is cut into.
constexpr std::size_t levels = 100;
// A point faces up when its normal's vertical part is above this.
constexpr double facingUp = 0.9;
// Only the lower third can hold the support.
constexpr std::size_t lowestLevels = 34;
// The support holds at least one point in this many of the cloud.
constexpr std::size_t leastShare = 40;
}  // namespace

std::optional<double> supportHeight(const std::vector<DensePoint>& points) {
    if (points.empty()) return std::nullopt;
    double low = points[0].position[1], high = low;
    for (const auto& p : points) {
        low = std::min(low, p.position[1]);
        high = std::max(high, p.position[1]);
    }
    const double bin = std::max((high - low) / levels, 1e-9);
    std::vector<std::size_t> level(levels + 1, 0);
    for (const auto& p : points)
        if (p.normal[1] > facingUp) ++level[std::size_t((p.position[1] - low) / bin)];
    // A plane's own noise spans two levels.
    std::size_t best = 1;
    for (std::size_t i = 1; i < lowestLevels; ++i)
        if (level[i] + level[i - 1] > level[best] + level[best - 1]) best = i;
    if ((level[best] + level[best - 1]) * leastShare < points.size()) return std::nullopt;
    return low + (best + 1) * bin + 0.5 * bin;
}

}  // namespace pelorin::engine::local
