#include "engine/reconstruction/local/object_region.h"

#include <algorithm>

#include <opencv2/core.hpp>

namespace pelorin::engine::local {

namespace {

double quantile(std::vector<double> values, double share) {
    const auto at = values.begin() + std::ptrdiff_t(share * double(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// The ground is the lowest height at which many sparse points lie (a floor or table top is
// flat and textured); the object is what stands above it.
std::optional<ObjectRegion> aroundTheObject(const SparseModel& model, const ObjectRegion& ball,
                                            const RegionOptions& options) {
    std::vector<Vec3> inside;
    for (const auto& [id, point] : model.points)
        if (ball.contains(point.position)) inside.push_back(point.position);
    if (inside.size() < options.leastPoints) return std::nullopt;
    const double low = ball.centre[1] - ball.radius, bin = 2 * ball.radius / options.heightBins;
    std::vector<int> counts(options.heightBins, 0);
    for (const auto& p : inside)
        ++counts[std::clamp(int((p[1] - low) / bin), 0, options.heightBins - 1)];
    // Typical of the heights where anything is: above and below the scene, bins are empty.
    std::vector<int> sorted;
    for (int count : counts)
        if (count > 0) sorted.push_back(count);
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double typical = sorted[sorted.size() / 2];
    // Only below the point the cameras look at: the object's top may be flat too.
    std::optional<double> ground;
    for (int b = 0; b < options.heightBins / 2 && !ground; ++b)
        if (counts[b] >= options.groundPeak * typical) {
            // The ground may straddle two bins.
            const int top =
                b + 1 < options.heightBins && counts[b + 1] >= 0.5 * counts[b] ? b + 1 : b;
            ground = low + (top + 1) * bin;
        }
    std::vector<double> xs, zs, heights;
    for (const auto& p : inside) {
        if (ground && p[1] < *ground) continue;
        xs.push_back(p[0]);
        zs.push_back(p[2]);
        heights.push_back(p[1]);
    }
    if (xs.size() < options.leastPoints / 2) return std::nullopt;
    const Vec3 axis{quantile(xs, 0.5), 0, quantile(zs, 0.5)};
    std::vector<double> across;
    for (std::size_t i = 0; i < xs.size(); ++i)
        across.push_back(std::hypot(xs[i] - axis[0], zs[i] - axis[2]));
    const double bottom = ground ? *ground : quantile(heights, 1 - options.objectShare);
    const double top = quantile(heights, options.objectShare);
    const double radius = quantile(across, options.objectShare) * options.boundsMargin;
    const double halfHeight = 0.5 * (top - bottom) * options.boundsMargin;
    if (!(radius > 0) || !(halfHeight > 0) || radius > ball.radius) return std::nullopt;
    return ObjectRegion{{axis[0], 0.5 * (top + bottom), axis[2]}, radius, halfHeight};
}

}  // namespace

ObjectRegion objectRegion(const SparseModel& model,
                          const std::optional<link::CaptureManifest>& manifest, bool metric,
                          const RegionOptions& options) {
    if (metric && manifest && manifest->objectBounds &&
        manifest->objectBounds->centre.size() == 3) {
        const auto& bounds = *manifest->objectBounds;
        const Vec3 centre = {bounds.centre[0], bounds.centre[1], bounds.centre[2]};
        return {centre, bounds.radius * options.boundsMargin,
                bounds.height * 0.5 * options.boundsMargin, true};
    }
    // The least-squares point nearest to every viewing axis.
    cv::Matx33d a = cv::Matx33d::zeros();
    cv::Vec3d b(0, 0, 0);
    for (const auto& view : model.views) {
        const Vec3 axis = transposed(view.rotation) * Vec3{0, 0, 1};
        const cv::Vec3d d(axis[0], axis[1], axis[2]),
            c(view.centre[0], view.centre[1], view.centre[2]);
        const cv::Matx33d projector = cv::Matx33d::eye() - d * d.t();
        a += projector;
        b += projector * c;
    }
    const cv::Vec3d solved = a.solve(b, cv::DECOMP_SVD);
    const Vec3 centre = {solved[0], solved[1], solved[2]};
    std::vector<double> distances;
    for (const auto& view : model.views) distances.push_back(norm(view.centre - centre));
    std::sort(distances.begin(), distances.end());
    const double median = distances.empty() ? 1.0 : distances[distances.size() / 2];
    const ObjectRegion ball{centre, options.cameraDistanceShare * median, -1};
    return aroundTheObject(model, ball, options).value_or(ball);
}

}  // namespace pelorin::engine::local
