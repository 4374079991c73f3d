#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "common/expected.h"
#include "engine/geometry/surface_mesh.h"

namespace pelorin::evaluation {

// The engine's own point and mesh: the evaluation measures what the steps make.
using Point = engine::Vec3;
using Mesh = engine::SurfaceMesh;

// Reads a PLY file (ASCII or binary little-endian, float or double coordinates), an OBJ file or
// folder, a .glb or a .usdz. Fails with a one-line reason that names the file.
pelorin::Expected<Mesh, std::string> loadMesh(const std::filesystem::path& path);

}  // namespace pelorin::evaluation
