#pragma once

#include <cstddef>
#include <string_view>

#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine::local {

// What a detail level asks of the steps.
struct DetailPlan {
    // Long side of the working images that structure from motion and the texture use.
    int workingSide = 2000;
    // Long side of the depth maps.
    int denseSide = 800;
    // Depth hypotheses tried per pixel.
    int planes = 96;
    // Octree depth of the Poisson surface: one more doubles its resolution.
    int poissonDepth = 9;
    // Most points the surface is made from; its time grows with them.
    std::size_t surfacePoints = 250000;
    // Triangle budget of the final mesh.
    std::size_t faces = 100000;
    // Edge of the square texture atlas, in pixels.
    int atlas = 4096;
};

DetailPlan planFor(RequestDetail detail);
std::string_view detailName(RequestDetail detail);

// The finest detail that any model request asks for; medium when only a point cloud is asked.
RequestDetail detailFor(const std::vector<PhotogrammetryRequest>& requests);

}  // namespace pelorin::engine::local
