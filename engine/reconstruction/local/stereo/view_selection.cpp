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

// A candidate that lies from the photo within this angle of a neighbour already chosen (seen
// across the photo) counts for this share of its score: neighbours on different sides see past
// different parts in front, and their epipolar lines cross.
constexpr double sameSideDegrees = 70;
constexpr double sameSideShare = 0.5;

// Where `other` lies from `view`, as an angle across the photo.
double directionInPhoto(const RegisteredView& view, const RegisteredView& other) {
    const Vec3 offset = view.rotation * (other.centre - view.centre);
    return std::atan2(offset[1], offset[0]);
}

// The best `count` of `candidates` by `score` (indexed by view), a candidate on the side of one
// already taken counting less, in the order taken.
std::vector<std::size_t> spreadChoice(const SparseModel& model, std::size_t view,
                                      std::vector<std::size_t> candidates, const double* score,
                                      std::size_t count) {
    std::vector<std::size_t> chosen;
    std::vector<double> chosenDirections;
    while (chosen.size() < count && !candidates.empty()) {
        std::size_t pick = 0;
        double best = -1, bestDirection = 0;
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            const double direction =
                directionInPhoto(model.views[view], model.views[candidates[k]]);
            double value = score[candidates[k]];
            for (const double taken : chosenDirections) {
                const double apart =
                    std::abs(std::remainder(direction - taken, 2 * std::numbers::pi));
                if (apart * 180 / std::numbers::pi < sameSideDegrees) value *= sameSideShare;
            }
            if (value > best) best = value, pick = k, bestDirection = direction;
        }
        chosen.push_back(candidates[pick]);
        chosenDirections.push_back(bestDirection);
        candidates.erase(candidates.begin() + std::ptrdiff_t(pick));
    }
    return chosen;
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
        std::vector<std::size_t> candidates;
        for (std::size_t j = 0; j < n; ++j)
            if (j != i && score[i * n + j] > 0) candidates.push_back(j);
        result[i].neighbours = spreadChoice(model, i, std::move(candidates), &score[i * n], count);
        if (!depths[i].empty()) {
            result[i].nearest = 0.8 * percentile(depths[i], 0.01);
            result[i].farthest = 1.2 * percentile(depths[i], 0.99);
        }
    }
    return result;
}

}  // namespace pelorin::engine::local
