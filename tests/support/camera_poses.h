#pragma once

#include <cmath>

#include "engine/geometry/vector_math.h"

namespace pelorin::testing {

// The world-to-camera rotation, row by row (x right, y down, z forward), of a camera at
// `position` looking at `target`. The world's +Y is up in the picture unless the camera looks
// almost straight along it, when +X is.
inline engine::Mat3 lookingAt(const engine::Vec3& position, const engine::Vec3& target = {}) {
    using namespace engine;  // the vector operators
    const Vec3 forward = normalized(target - position);
    const Vec3 up = std::abs(forward[1]) < 0.9 ? Vec3{0, 1, 0} : Vec3{1, 0, 0};
    const Vec3 right = normalized(cross(forward, up));
    const Vec3 down = cross(forward, right);
    return {right[0], right[1],   right[2],   down[0],   down[1],
            down[2],  forward[0], forward[1], forward[2]};
}

}  // namespace pelorin::testing
