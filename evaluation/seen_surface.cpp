#include "evaluation/seen_surface.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>

#include "engine/geometry/vector_math.h"
#include "evaluation/rasteriser.h"

namespace pelorin::evaluation {

using engine::cross;
using engine::dot;
using engine::operator-;

std::vector<bool> seenByPhotos(const Mesh& mesh, const std::vector<Point>& points,
                               const std::vector<std::uint32_t>& triangleOf,
                               const std::vector<PinholeCamera>& cameras,
                               const SeenOptions& options) {
    std::vector<int> views(points.size(), 0);
    const double tolerance = options.depthTolerance * mesh.diagonal();
    const double cosLimit = std::cos(options.maxIncidenceDegrees * M_PI / 180);
    for (const auto& full : cameras) {
        const double shrink =
            std::min(1.0, double(options.longSide) / std::max(full.width(), full.height()));
        const PinholeCamera camera = full.resized(std::max(1, int(full.width() * shrink)),
                                                  std::max(1, int(full.height() * shrink)));
        const cv::Mat depth = renderDepth(mesh, camera);
        for (std::size_t i = 0; i < points.size(); ++i) {
            if (i >= triangleOf.size() || triangleOf[i] >= mesh.triangles.size()) continue;
            const Point q = camera.toCamera(points[i]);
            if (!(q[2] > 0)) continue;
            const auto pixel = camera.project(q);
            const int x = static_cast<int>(std::floor(pixel[0]));
            const int y = static_cast<int>(std::floor(pixel[1]));
            if (x < 0 || y < 0 || x >= depth.cols || y >= depth.rows) continue;
            if (q[2] > depth.at<double>(y, x) + tolerance) continue;
            // The triangle's normal in the camera's frame, against the ray to the point.
            const auto& t = mesh.triangles[triangleOf[i]];
            const Point a = camera.toCamera(mesh.vertices[t[0]]);
            const Point normal = cross(camera.toCamera(mesh.vertices[t[1]]) - a,
                                       camera.toCamera(mesh.vertices[t[2]]) - a);
            const double lengths = std::sqrt(dot(normal, normal) * dot(q, q));
            if (lengths > 0 && std::abs(dot(normal, q)) / lengths >= cosLimit) ++views[i];
        }
    }
    std::vector<bool> seen(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) seen[i] = views[i] >= options.minViews;
    return seen;
}

}  // namespace pelorin::evaluation
