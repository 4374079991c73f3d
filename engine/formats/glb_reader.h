#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "common/expected.h"
#include "engine/formats/textured_mesh.h"

namespace pelorin::engine {

// Reads a binary glTF file of the kind our GLB writer makes: triangle primitives with float
// positions, optional float normals and texture coordinates, integer indices and base-colour
// images held in the BIN chunk. Node transforms are not applied (the writer makes none).
// Texture coordinates come back with v = 0 at the bottom of the image, as in TexturedMesh.
// Every offset and length is checked; a damaged file fails with a one-line reason.
pelorin::Expected<engine::TexturedMesh, std::string> parseGlb(
    std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner = nullptr);

// parseGlb of a file; the images keep the file mapped.
pelorin::Expected<engine::TexturedMesh, std::string> readGlb(const std::filesystem::path& file);

}  // namespace pelorin::engine
