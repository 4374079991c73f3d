#include "engine/reconstruction/local/object_region.h"

#include <algorithm>

#include <opencv2/core.hpp>

namespace pelorin::engine::local {

ObjectRegion objectRegion(const SparseModel& model,
                          const std::optional<link::CaptureManifest>& manifest, bool metric,
                          const RegionOptions& options) {
    if (metric && manifest && manifest->objectBounds &&
        manifest->objectBounds->centre.size() == 3) {
        const auto& bounds = *manifest->objectBounds;
        const Vec3 centre = {bounds.centre[0], bounds.centre[1], bounds.centre[2]};
        return {centre, bounds.radius * options.boundsMargin,
                bounds.height * 0.5 * options.boundsMargin};
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
    return {centre, options.cameraDistanceShare * median, -1};
}

}  // namespace pelorin::engine::local
