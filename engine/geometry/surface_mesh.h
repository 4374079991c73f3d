#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/geometry/vector_math.h"

namespace pelorin::engine {

using Triangle = std::array<std::uint32_t, 3>;

// A triangle mesh of positions and triangles, counter-clockwise seen from outside: what the
// surface steps make and what the evaluation measures.
struct SurfaceMesh {
    std::vector<Vec3> vertices;
    std::vector<Triangle> triangles;

    // Length of the axis-aligned bounding box's diagonal.
    double diagonal() const {
        if (vertices.empty()) return 0;
        Vec3 low = vertices[0], high = vertices[0];
        for (const auto& v : vertices) {
            for (int i = 0; i < 3; ++i) {
                low[i] = std::min(low[i], v[i]);
                high[i] = std::max(high[i], v[i]);
            }
        }
        return norm(high - low);
    }
};

// A point of the dense cloud: where, which way the surface faces there, and its colour.
struct DensePoint {
    Vec3 position{};
    Vec3 normal{};                         // unit, facing the cameras that saw it
    std::array<std::uint8_t, 3> colour{};  // red, green, blue
};

}  // namespace pelorin::engine
