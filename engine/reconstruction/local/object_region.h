#pragma once

#include <cmath>
#include <vector>

#include <optional>

#include "engine/geometry/vector_math.h"
#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "link/records/capture_records.h"

namespace pelorin::engine::local {

// Where the object stands: an upright cylinder (the phone's bounds, in a model already in the
// phone's frame) or, without bounds, a ball around the point the cameras look at.
struct ObjectRegion {
    Vec3 centre{};
    double radius = 0;
    // Half the cylinder's height; negative for a ball.
    double halfHeight = -1;
    // The phone's bounds, tight around the object; otherwise found from the photos.
    bool bounded = false;

    bool contains(const Vec3& p) const {
        if (halfHeight < 0) return norm(p - centre) <= radius;
        return std::hypot(p[0] - centre[0], p[2] - centre[2]) <= radius &&
               std::abs(p[1] - centre[1]) <= halfHeight;
    }

    // Points on the region's surface, enough to bound its outline in a photo.
    std::vector<Vec3> outline() const {
        std::vector<Vec3> points;
        constexpr int steps = 24;
        for (int i = 0; i < steps; ++i) {
            const double a = 2 * 3.14159265358979 * i / steps;
            if (halfHeight >= 0) {
                for (double k : {-1.0, 1.0})
                    points.push_back(
                        centre + Vec3{radius * std::cos(a), k * halfHeight, radius * std::sin(a)});
            } else {
                for (int j = 1; j < steps / 2; ++j) {
                    const double b = 3.14159265358979 * j / (steps / 2) - 3.14159265358979 / 2;
                    points.push_back(centre + radius * Vec3{std::cos(b) * std::cos(a), std::sin(b),
                                                            std::cos(b) * std::sin(a)});
                }
                points.push_back(centre + Vec3{0, radius, 0});
                points.push_back(centre - Vec3{0, radius, 0});
            }
        }
        return points;
    }
};

struct RegionOptions {
    // The phone's bounds are tight around the object; a margin keeps its edges.
    double boundsMargin = 1.15;
    // Without bounds: the ball's radius as a share of the cameras' median distance from the
    // point they look at; the object is searched for inside it.
    double cameraDistanceShare = 0.6;
    // Sparse points the ball must hold before the object is told from its surroundings.
    std::size_t leastPoints = 100;
    // Height bins across the ball when looking for the ground: fine enough that a flat ground
    // fills one or two.
    int heightBins = 100;
    // A bin holding this many times the median bin's points is the ground.
    double groundPeak = 4;
    // Share of the points above the ground that the object's outline must hold; the rest is
    // background that happened to lie in the ball.
    double objectShare = 0.95;
};

// Where the object is: the phone's bounds when the model is in the phone's frame (`metric`).
// Without them, in an upright model: the cameras look at a point; around it, an upright
// cylinder around the points that stand above the ground (the object and what it stands on),
// or the ball around that point when the sparse points tell too little.
ObjectRegion objectRegion(const SparseModel& model,
                          const std::optional<link::CaptureManifest>& manifest, bool metric,
                          const RegionOptions& options = {});

}  // namespace pelorin::engine::local
