#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "common/expected.h"

namespace pelorin::evaluation {

using Point = std::array<double, 3>;

// A triangle mesh for measuring: positions and triangles only.
struct Mesh {
    std::vector<Point> vertices;
    std::vector<std::array<std::uint32_t, 3>> triangles;

    // Length of the axis-aligned bounding box's diagonal.
    double diagonal() const;
};

// Reads a PLY file (ASCII or binary little-endian, float or double coordinates), an OBJ file or
// folder, a .glb or a .usdz. Fails with a one-line reason that names the file.
pelorin::Expected<Mesh, std::string> loadMesh(const std::filesystem::path& path);

// Writes an ASCII PLY, for test data and debugging.
bool saveAsciiPly(const Mesh& mesh, const std::filesystem::path& path);

}  // namespace pelorin::evaluation
