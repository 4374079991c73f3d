#pragma once

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "common/expected.h"
#include "engine/geometry/surface_mesh.h"

namespace pelorin::engine {

// Reads the vertices and triangles of a PLY file (ASCII or binary little-endian; polygons are
// fanned into triangles) and, when `vertexValues` is given, each vertex's "value" property (0
// where there is none) into it. Fails with a one-line reason on anything malformed.
pelorin::Expected<SurfaceMesh, std::string> readPlyMesh(const std::filesystem::path& file,
                                                        std::vector<float>* vertexValues = nullptr);

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

}  // namespace pelorin::engine
