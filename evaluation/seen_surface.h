#pragma once

#include <cstdint>
#include <vector>

#include "evaluation/mesh.h"
#include "evaluation/pinhole_camera.h"

namespace pelorin::evaluation {

struct SeenOptions {
    // How many photos must show a point for stereo to have a chance at it.
    int minViews = 2;
    // Views that meet the surface more obliquely than this do not count.
    double maxIncidenceDegrees = 75;
    // Depth differences up to this share of the mesh's diagonal are not occlusion.
    double depthTolerance = 0.01;
    // The cameras are drawn at this long side; visibility needs no more.
    int longSide = 640;
};

// Which of the given points on a mesh (each with the index of its triangle) the photos show:
// in the picture, facing the camera and not hidden by the mesh itself, in at least
// `minViews` of the cameras. Both sides of a triangle count as facing: on a closed mesh the
// back of a surface is hidden by its front.
std::vector<bool> seenByPhotos(const Mesh& mesh, const std::vector<Point>& points,
                               const std::vector<std::uint32_t>& triangleOf,
                               const std::vector<PinholeCamera>& cameras,
                               const SeenOptions& options = {});

}  // namespace pelorin::evaluation
