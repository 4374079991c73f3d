#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "engine/file_error.h"
#include "engine/textured_mesh.h"
#include "link/expected.h"

namespace pelorin::engine::UsdzWriter {

enum class UsdzError {
    noObj,
    empty,
    // Array lengths that do not match the vertex count, or indices past the last vertex.
    invalidMesh,
    // The package does not fit a ZIP without 64-bit extensions.
    tooLarge,
};
std::string description(UsdzError error);

// A failed package: a problem with the model, or the file system's own error.
using Error = std::variant<UsdzError, FileError>;
std::string description(const Error& error);

// The package's root layer; its other entries are the texture images under "textures/".
inline constexpr std::string_view layerName = "model.usda";

// The package of a mesh: a stored ZIP whose first entry is the layer, with every entry's data
// aligned to 64 bytes. The layer holds one mesh with a preview-surface material per group;
// groups that share image bytes share one image file. Normals are written when the mesh has
// them of its own.
Expected<Bytes, UsdzError> buildUSDZ(const TexturedMesh& mesh);

// buildUSDZ, written atomically to destination.
Expected<std::monostate, Error> write(const TexturedMesh& mesh,
                                      const std::filesystem::path& destination);

// The package of the first OBJ file in objFolder with its material library and textures.
Expected<std::monostate, Error> convert(const std::filesystem::path& objFolder,
                                        const std::filesystem::path& destination);

}  // namespace pelorin::engine::UsdzWriter
