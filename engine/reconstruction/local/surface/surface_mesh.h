#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/expected.h"
#include "engine/reconstruction/local/geometry.h"
#include "engine/reconstruction/local/stereo/depth_fusion.h"

namespace pelorin::engine::local {

using Triangle = std::array<std::uint32_t, 3>;

// A triangle mesh being made: positions and triangles, counter-clockwise seen from outside.
struct SurfaceMesh {
    std::vector<Vec3> vertices;
    std::vector<Triangle> triangles;
};

// Reads the vertices and triangles of a PLY file (ASCII or binary little-endian; polygons are
// fanned into triangles). Fails with a one-line reason on anything malformed.
pelorin::Expected<SurfaceMesh, std::string> readPlyMesh(const std::filesystem::path& file);

// Writes the mesh as binary PLY. Fails with a one-line reason.
pelorin::Expected<std::monostate, std::string> writePlyMesh(const SurfaceMesh& mesh,
                                                            const std::filesystem::path& file);

// Writes a coloured point cloud with normals as binary PLY (x y z nx ny nz red green blue),
// the input of surface reconstruction. Fails with a one-line reason.
pelorin::Expected<std::monostate, std::string> writePlyPoints(const std::vector<DensePoint>& points,
                                                              const std::filesystem::path& file);

// Reads back what writePlyPoints wrote.
pelorin::Expected<std::vector<DensePoint>, std::string> readPlyPoints(
    const std::filesystem::path& file);

// The triangles whose three corners `keep` accepts, without the vertices no triangle uses.
SurfaceMesh keepInside(const SurfaceMesh& mesh, const std::function<bool(const Vec3&)>& keep);

// The connected piece with the most triangles.
SurfaceMesh largestComponent(const SurfaceMesh& mesh);

}  // namespace pelorin::engine::local
