#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "engine/formats/textured_mesh.h"
#include "tests/support/process_state.h"
#include "tests/support/scratch_folder.h"

// Shared fixtures of the engine tests: scratch folders, model files and readers for the
// containers the writers produce.
namespace pelorin::testing {

// An image from tests/data/images ("checker.png", "bronze.jpg").
Bytes testImage(std::string_view name);

// cube.obj with cube.mtl: a cube of six quads with normals and texture coordinates over three
// materials, "front" (three quads), "back" (two) and "trim" (one). front.png and back.png hold
// equal bytes (checker.png); trim.jpg is bronze.jpg.
void writeTexturedCube(const std::filesystem::path& folder);

// A GLB file taken apart: the JSON document and the BIN chunk.
struct Glb {
    std::uint32_t declaredLength = 0;
    std::string jsonChunk;  // with its padding
    nlohmann::json document;
    Bytes bin;

    // The elements of an accessor, read from its buffer view.
    template <class T>
    std::vector<T> accessor(std::size_t index) const;
};
Glb readGlb(const Bytes& file);

// One ZIP entry as its local header describes it.
struct ZipEntry {
    std::string name;
    std::size_t dataOffset = 0;
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
};
// The entries of a stored archive, read by the one stored-ZIP reader (which checks each CRC);
// empty when it refuses the archive.
std::vector<ZipEntry> readZipEntries(const Bytes& file);

template <class T>
std::vector<T> Glb::accessor(std::size_t index) const {
    const auto& accessor = document["accessors"][index];
    const auto& view = document["bufferViews"][accessor["bufferView"].get<std::size_t>()];
    const std::size_t offset = view["byteOffset"].get<std::size_t>();
    const std::size_t length = view["byteLength"].get<std::size_t>();
    std::vector<T> values(length / sizeof(T));
    std::memcpy(values.data(), bin.data() + offset, values.size() * sizeof(T));
    return values;
}

}  // namespace pelorin::testing
