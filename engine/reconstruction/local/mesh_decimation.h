#pragma once

#include <cstddef>

#include "engine/reconstruction/local/surface_mesh.h"

namespace pelorin::engine::local {

// Reduces the mesh to at most `targetTriangles` by collapsing the edges whose removal changes
// the surface least (quadric error), keeping its boundary and its outline. A mesh already
// within the budget comes back unchanged.
SurfaceMesh decimate(const SurfaceMesh& mesh, std::size_t targetTriangles);

}  // namespace pelorin::engine::local
