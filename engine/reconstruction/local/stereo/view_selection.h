#pragma once

#include <vector>

#include "engine/reconstruction/local/colmap/sparse_model.h"

namespace pelorin::engine::local {

// Which photos to compare a photo with, and how deep its scene is.
struct ViewNeighbours {
    std::vector<std::size_t> neighbours;  // indices into SparseModel::views, best first
    double nearest = 0;                   // depth range of what it sees
    double farthest = 0;
};

// For each view, the `count` views that share the most sparse points with it seen at a useful
// angle (too small an angle gives poor depth, too large one poor matches), spread to different
// sides of it, best first; and its depth range from its own sparse points, widened for what the
// sparse points missed.
std::vector<ViewNeighbours> selectNeighbours(const SparseModel& model, std::size_t count);

}  // namespace pelorin::engine::local
