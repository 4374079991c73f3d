#include "engine/formats/ply.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_folder.h"

namespace pelorin::engine {
namespace {

TEST(PlyFiles, HostilePlyFilesFailWithAReason) {
    pelorin::testing::ScratchFolder scratch;
    const std::string header = "ply\nformat ascii 1.0\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"element vertex 1000000000000\nelement face 0\nend_header\n", "has no properties"},
        {"element vertex 3\nproperty float x\nproperty float y\nproperty float z\nelement face 1\n"
         "property list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n",
         "bad PLY vertex index"},
        {"element vertex 3\nproperty float x\nproperty float y\nproperty float z\nelement face 1\n"
         "property list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n",
         "index out of range"},
        {"element vertex 3\nproperty float x\nproperty float y\nproperty float z\nelement face 1\n"
         "property list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n",
         "truncated"},
    };
    for (const auto& [body, reason] : cases) {
        pelorin::testing::writeFile(scratch / "bad.ply", header + body);
        const auto read = readPlyMesh(scratch / "bad.ply");
        ASSERT_FALSE(read) << body;
        EXPECT_NE(read.error().find(reason), std::string::npos) << read.error();
        EXPECT_NE(read.error().find("bad.ply"), std::string::npos) << read.error();
    }
    // A whole binary file reads; the same file but for its last byte does not.
    std::string binary =
        "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\n"
        "property float y\nproperty float z\nelement face 1\n"
        "property list uchar int vertex_indices\nend_header\n";
    for (float v : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f})
        binary.append(reinterpret_cast<const char*>(&v), 4);
    binary += '\3';
    for (std::int32_t i : {0, 1, 2}) binary.append(reinterpret_cast<const char*>(&i), 4);
    pelorin::testing::writeFile(scratch / "whole.ply", binary);
    const auto whole = readPlyMesh(scratch / "whole.ply");
    ASSERT_TRUE(whole) << whole.error();
    EXPECT_EQ(whole->triangles.size(), 1u);
    pelorin::testing::writeFile(scratch / "cut.ply", binary.substr(0, binary.size() - 1));
    EXPECT_NE(readPlyMesh(scratch / "cut.ply").error().find("truncated"), std::string::npos);
}

TEST(PlyFiles, EachVertexValueReadsBesideItsVertex) {
    pelorin::testing::ScratchFolder scratch;
    const std::string faces =
        "element face 1\nproperty list uchar int vertex_indices\nend_header\n";
    const std::string withValues =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float value\n"
        "property float y\nproperty float z\n" +
        faces + "0 7.5 0 0\n1 2.25 0 0\n0 9 1 0\n3 0 1 2\n";
    const std::string without =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
        "property float z\n" +
        faces + "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    const std::vector<std::pair<std::string, std::vector<float>>> cases = {
        {withValues, {7.5f, 2.25f, 9.f}}, {without, {0.f, 0.f, 0.f}}};
    for (const auto& [text, expected] : cases) {
        pelorin::testing::writeFile(scratch / "mesh.ply", text);
        std::vector<float> values;
        const auto read = readPlyMesh(scratch / "mesh.ply", &values);
        ASSERT_TRUE(read) << read.error();
        EXPECT_EQ(values, expected);
        EXPECT_EQ(read->vertices[1], (Vec3{1, 0, 0}));
    }
}

}  // namespace
}  // namespace pelorin::engine
