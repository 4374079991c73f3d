#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"

namespace pelorin::engine {

// A base-colour image exactly as stored in its file. The bytes are shared, not copied: many
// materials commonly name one atlas image, and atlases run to tens of megabytes.
struct TextureImage {
    std::span<const std::uint8_t> bytes;  // valid while owner lives
    std::shared_ptr<const void> owner;
    std::string mime;  // "image/png" or "image/jpeg"

    static TextureImage fromBytes(Bytes bytes, std::string mime) {
        auto owned = std::make_shared<const Bytes>(std::move(bytes));
        return {std::span<const std::uint8_t>(*owned), owned, std::move(mime)};
    }

    // The same image, whether shared or an equal copy.
    bool sameImage(const TextureImage& other) const {
        return (bytes.data() == other.bytes.data() && bytes.size() == other.bytes.size()) ||
               std::ranges::equal(bytes, other.bytes);
    }
};

// The triangles of one material.
struct MeshGroup {
    std::string material;
    std::vector<std::uint32_t> indices;  // three per triangle, into the shared vertex arrays
    std::optional<TextureImage> texture;
};

// A triangle mesh whose vertices all carry a position, a normal and a texture coordinate, in
// metres with y up. Texture coordinates have v = 0 at the bottom of the image.
struct TexturedMesh {
    std::vector<float> positions;  // 3 per vertex
    std::vector<float> normals;    // 3 per vertex
    std::vector<float> texcoords;  // 2 per vertex
    std::vector<MeshGroup> groups;
    bool hasNormals = false;    // some vertex had a normal of its own
    bool hasTexcoords = false;  // some vertex had a texture coordinate of its own

    std::size_t vertexCount() const { return positions.size() / 3; }
};

}  // namespace pelorin::engine
