#include "engine/reconstruction/local/stereo/view_selection.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

namespace pelorin::engine::local {

namespace {

// A pair is most useful near 15 degrees of triangulation angle; below 3 or above 45 little.
double angleWeight(double degrees) {
    if (degrees < 3 || degrees > 45) return 0.05;
    if (degrees < 15) return std::pow(degrees / 15, 2);
    return std::max(0.2, 1 - (degrees - 15) / 45);
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    auto at = values.begin() + static_cast<std::ptrdiff_t>(share * (values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

}  // namespace

std::vector<ViewNeighbours> selectNeighbours(const SparseModel& model, std::size_t count) {
    const std::size_t n = model.views.size();
    std::map<int, std::size_t> indexOf;
    for (std::size_t i = 0; i < n; ++i) indexOf[model.views[i].id] = i;
    std::vector<double> score(n * n, 0.0);
    std::vector<std::vector<double>> depths(n);
    for (const auto& [id, point] : model.points) {
        std::vector<std::size_t> seen;
        for (int viewId : point.viewIds) {
            const auto found = indexOf.find(viewId);
            if (found == indexOf.end()) continue;
            seen.push_back(found->second);
            const double depth = model.views[found->second].toCamera(point.position)[2];
            if (depth > 0) depths[found->second].push_back(depth);
        }
        for (std::size_t a = 0; a < seen.size(); ++a) {
            const Vec3 rayA = normalized(point.position - model.views[seen[a]].centre);
            for (std::size_t b = a + 1; b < seen.size(); ++b) {
                if (seen[a] == seen[b]) continue;
                const Vec3 rayB = normalized(point.position - model.views[seen[b]].centre);
                const double degrees =
                    std::acos(std::clamp(dot(rayA, rayB), -1.0, 1.0)) * 180 / std::numbers::pi;
                const double w = angleWeight(degrees);
                score[seen[a] * n + seen[b]] += w;
                score[seen[b] * n + seen[a]] += w;
            }
        }
    }
    std::vector<ViewNeighbours> result(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::size_t> order;
        for (std::size_t j = 0; j < n; ++j)
            if (j != i && score[i * n + j] > 0) order.push_back(j);
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return score[i * n + a] > score[i * n + b];
        });
        if (order.size() > count) order.resize(count);
        result[i].neighbours = std::move(order);
        if (!depths[i].empty()) {
            result[i].nearest = 0.8 * percentile(depths[i], 0.01);
            result[i].farthest = 1.2 * percentile(depths[i], 0.99);
        }
    }
    return result;
}

}  // namespace pelorin::engine::local
