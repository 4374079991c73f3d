#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "engine/formats/point_cloud.h"

namespace pelorin::engine::PointCloudWriter {

// The points as a binary little-endian PLY file with x, y, z and red, green, blue per point;
// alpha is not written. Every point is kept, in order.
Bytes encode(std::span<const PointCloudPoint> points);

}  // namespace pelorin::engine::PointCloudWriter
