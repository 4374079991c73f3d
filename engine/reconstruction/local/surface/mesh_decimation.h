#pragma once

#include <cstddef>
#include <stop_token>

#include "engine/reconstruction/local/surface/surface_mesh.h"

namespace pelorin::engine::local {

// Reduces the mesh to at most `targetTriangles` by collapsing the edges whose removal changes
// the surface least (quadric error), keeping its boundary and its outline. A mesh already
// within the budget comes back unchanged. Once `stop` is requested it returns what it has,
// over the budget, for the caller to throw away. A large mesh is decimated in two halves side
// by side when `threads` allows.
SurfaceMesh decimate(const SurfaceMesh& mesh, std::size_t targetTriangles,
                     std::stop_token stop = {}, unsigned threads = 1);

}  // namespace pelorin::engine::local
