#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include "engine/geometry/surface_mesh.h"
#include "engine/reconstruction/local/stereo/dense_stereo.h"
#include "engine/reconstruction/local/stereo/view_selection.h"

namespace pelorin::engine::local {

struct FusionOptions {
    // Relative depth difference within which another view's depth map agrees.
    double agreement = 0.01;
    // How many neighbours must agree for a depth to be kept (fewer when a view has fewer).
    int minimumAgreeing = 2;
    // How many of a view's neighbours, the best first, are asked. Stereo compares each view with
    // one more than this, so that a part hidden from one neighbour is still found in the others;
    // asking that one too lets through more depths that two maps get wrong alike.
    std::size_t checkedNeighbours = 3;
    // Edge of the cells in which points merge, in multiples of the typical pixel footprint.
    double cellInPixels = 1.0;
    // Where points may be; everything else is dropped. Everything when empty.
    std::function<bool(const Vec3&)> keep;
    // Threads to use.
    unsigned threads = 2;
};

// The point at `depth` along pixel (x, y) of the view (pixel corners at whole numbers).
Vec3 backProject(const RegisteredView& view, double x, double y, double depth);

// Whether the map finds `world` at its own depth, within `tolerance` of it.
bool agrees(const DepthMap& map, const Vec3& world, double tolerance);

// Checks every depth against the neighbours' depth maps, gives the survivors a normal from
// their own map and a colour from their photo (BGR, same size as the map), and merges them
// cell by cell into one coloured point cloud. `maps`, `colours` and `neighbours` run in the
// order of the model's views.
std::vector<DensePoint> fuseDepthMaps(const std::vector<DepthMap>& maps,
                                      const std::vector<cv::Mat>& colours,
                                      const std::vector<ViewNeighbours>& neighbours,
                                      const FusionOptions& options = {});

// At most `count` points: points are merged cell by cell, the cells growing until few enough
// remain. The surface made from them loses little, and is made much sooner.
std::vector<DensePoint> thinPoints(const std::vector<DensePoint>& points, std::size_t count);

}  // namespace pelorin::engine::local
