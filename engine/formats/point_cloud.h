#pragma once

#include <array>
#include <cstdint>

namespace pelorin::engine {

// One point of a coloured point cloud, in metres with y up: what a backend hands back and what
// the PLY writer writes.
struct PointCloudPoint {
    std::array<float, 3> position{};
    // Red, green, blue, alpha.
    std::array<std::uint8_t, 4> colour{};

    bool operator==(const PointCloudPoint&) const = default;
};

}  // namespace pelorin::engine
