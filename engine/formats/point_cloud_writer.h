#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"

namespace pelorin::engine::PointCloudWriter {

struct Point {
    std::array<float, 3> position;      // metres
    std::array<std::uint8_t, 4> color;  // red, green, blue, alpha

    bool operator==(const Point&) const = default;
};

// The points as a binary little-endian PLY file with x, y, z and red, green, blue per point;
// alpha is not written. Every point is kept, in order.
Bytes encode(std::span<const Point> points);

}  // namespace pelorin::engine::PointCloudWriter
