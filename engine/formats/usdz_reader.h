#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "common/expected.h"
#include "engine/formats/textured_mesh.h"

namespace pelorin::engine {

// Reads a USDZ package of the kind our USDZ writer makes: a stored ZIP whose first entry is a
// text layer holding one mesh (points, triangle faces, optional per-vertex normals and texture
// coordinates, optional face subsets bound to materials) and the materials' texture images.
// Faces with more than three corners are split into fans. A damaged package fails with a
// one-line reason.
pelorin::Expected<engine::TexturedMesh, std::string> parseUsdz(
    std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner = nullptr);

// parseUsdz of a file; the images keep the file mapped.
pelorin::Expected<engine::TexturedMesh, std::string> readUsdz(const std::filesystem::path& file);

}  // namespace pelorin::engine
