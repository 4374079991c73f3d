#include "engine/formats/point_cloud_writer.h"

#include <string>

#include "common/binary/little_endian.h"

namespace pelorin::engine::PointCloudWriter {

Bytes encode(std::span<const PointCloudPoint> points) {
    const std::string header =
        "ply\n"
        "format binary_little_endian 1.0\n"
        "comment Made with Pelorin Studio\n"
        "element vertex " +
        std::to_string(points.size()) +
        "\n"
        "property float x\n"
        "property float y\n"
        "property float z\n"
        "property uchar red\n"
        "property uchar green\n"
        "property uchar blue\n"
        "end_header\n";
    constexpr std::size_t recordSize = 15;
    Bytes out;
    out.reserve(header.size() + recordSize * points.size());
    common::appendBytes(out, header.data(), header.size());
    for (const PointCloudPoint& point : points) {
        common::appendBytes(out, point.position.data(), 12);
        common::appendBytes(out, point.colour.data(), 3);
    }
    return out;
}

}  // namespace pelorin::engine::PointCloudWriter
