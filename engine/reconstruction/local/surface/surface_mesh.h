#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/expected.h"
#include "engine/formats/ply.h"
#include "engine/geometry/surface_mesh.h"

namespace pelorin::engine::local {

// The triangles whose three corners `keep` accepts, without the vertices no triangle uses.
SurfaceMesh keepInside(const SurfaceMesh& mesh, const std::function<bool(const Vec3&)>& keep);

// The connected piece with the most triangles.
SurfaceMesh largestComponent(const SurfaceMesh& mesh);

}  // namespace pelorin::engine::local
