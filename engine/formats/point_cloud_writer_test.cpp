#include "engine/formats/point_cloud_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace pelorin::engine {
namespace {

std::string header(std::size_t count) {
    return "ply\nformat binary_little_endian 1.0\ncomment Made with Pelorin Studio\nelement "
           "vertex " +
           std::to_string(count) +
           "\nproperty float x\nproperty float y\nproperty float z\nproperty uchar red\n"
           "property uchar green\nproperty uchar blue\nend_header\n";
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(PointCloudWriter, NoPointsIsTheHeaderAlone) {
    EXPECT_EQ(PointCloudWriter::encode({}), bytesOf(header(0)));
}

TEST(PointCloudWriter, OnePointIsFifteenLittleEndianBytesWithoutAlpha) {
    const PointCloudPoint point{{1, 2, 3}, {255, 0, 128, 77}};
    Bytes expected = bytesOf(header(1));
    expected.insert(expected.end(), {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00,
                                     0x40, 0x40, 0xFF, 0x00, 0x80});
    EXPECT_EQ(PointCloudWriter::encode({&point, 1}), expected);
}

TEST(PointCloudWriter, EveryPointIsWrittenInOrderEvenDuplicates) {
    std::vector<PointCloudPoint> points;
    for (int i = 0; i < 1000; ++i) {
        points.push_back(
            {{static_cast<float>(i), -0.5f, 1e-3f}, {static_cast<std::uint8_t>(i), 1, 2, 3}});
    }
    points.push_back(points.front());
    const Bytes file = PointCloudWriter::encode(points);
    const std::string head = header(points.size());
    ASSERT_EQ(file.size(), head.size() + 15 * points.size());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(head.size())),
              bytesOf(head));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::uint8_t* record = file.data() + head.size() + 15 * i;
        float x;
        std::memcpy(&x, record, 4);
        EXPECT_EQ(x, points[i].position[0]);
        EXPECT_EQ(record[12], points[i].colour[0]);
        EXPECT_EQ(record[14], 2);
    }
}

}  // namespace
}  // namespace pelorin::engine
