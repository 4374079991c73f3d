#include "tests/support/test_models.h"

#include "common/binary/crc32.h"
#include "common/binary/little_endian.h"
#include "common/zip/stored_zip.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace pelorin::testing {

namespace fs = std::filesystem;

Bytes testImage(std::string_view name) {
    Bytes bytes = readBytes(fs::path(PELORIN_TEST_DATA) / "images" / name);
    if (bytes.empty()) throw std::runtime_error("missing test image " + std::string(name));
    return bytes;
}

void writeTexturedCube(const fs::path& folder) {
    writeFile(folder / "cube.obj",
              "# a unit cube\nmtllib cube.mtl\n"
              "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\n"
              "v -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
              "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
              "vn 0 0 -1\nvn 0 0 1\nvn -1 0 0\nvn 1 0 0\nvn 0 -1 0\nvn 0 1 0\n"
              "usemtl front\n"
              "f 1/1/1 4/4/1 3/3/1 2/2/1\n"
              "f 5/1/2 6/2/2 7/3/2 8/4/2\n"
              "f 1/1/3 5/2/3 8/3/3 4/4/3\n"
              "usemtl back\n"
              "f 2/1/4 3/2/4 7/3/4 6/4/4\n"
              "f 1/1/5 2/2/5 6/3/5 5/4/5\n"
              "usemtl trim\n"
              "f 4/1/6 8/2/6 7/3/6 3/4/6\n");
    writeFile(folder / "cube.mtl",
              "newmtl front\nKd 1 1 1\nmap_Kd front.png\n"
              "newmtl back\nmap_Kd -s 1 1 1 back.png\n"
              "newmtl trim\nmap_Kd trim.jpg\n");
    writeFile(folder / "front.png", testImage("checker.png"));
    writeFile(folder / "back.png", testImage("checker.png"));
    writeFile(folder / "trim.jpg", testImage("bronze.jpg"));
}

namespace {}  // namespace

Glb readGlb(const Bytes& file) {
    Glb glb;
    if (file.size() < 28 || common::readLittleEndian<std::uint32_t>(file, 0) != 0x46546C67 ||
        common::readLittleEndian<std::uint32_t>(file, 4) != 2) {
        ADD_FAILURE() << "not a GLB header";
        return glb;
    }
    glb.declaredLength = common::readLittleEndian<std::uint32_t>(file, 8);
    const std::uint32_t jsonLength = common::readLittleEndian<std::uint32_t>(file, 12);
    EXPECT_EQ(common::readLittleEndian<std::uint32_t>(file, 16), 0x4E4F534Au);
    glb.jsonChunk.assign(reinterpret_cast<const char*>(file.data()) + 20, jsonLength);
    glb.document = nlohmann::json::parse(glb.jsonChunk);
    const std::size_t binHeader = 20 + jsonLength;
    const std::uint32_t binLength = common::readLittleEndian<std::uint32_t>(file, binHeader);
    EXPECT_EQ(common::readLittleEndian<std::uint32_t>(file, binHeader + 4), 0x004E4942u);
    EXPECT_EQ(binHeader + 8 + binLength, file.size());
    glb.bin.assign(file.begin() + static_cast<std::ptrdiff_t>(binHeader + 8), file.end());
    return glb;
}

std::vector<ZipEntry> readZipEntries(const Bytes& file) {
    std::vector<ZipEntry> entries;
    auto stored = common::readStoredZip(file);
    if (!stored) return entries;
    for (const auto& entry : *stored) {
        entries.push_back({.name = entry.name,
                           .dataOffset = static_cast<std::size_t>(entry.data.data() - file.data()),
                           .size = static_cast<std::uint32_t>(entry.data.size()),
                           .crc = common::crc32(entry.data)});
    }
    return entries;
}

}  // namespace pelorin::testing
