#pragma once

#include <filesystem>
#include <string_view>
#include <variant>

#include "common/expected.h"
#include "engine/formats/model_error.h"
#include "engine/formats/textured_mesh.h"

namespace pelorin::engine::UsdzWriter {

// noObj, empty, invalidMesh, or tooLarge when the package needs ZIP64 or the mesh more vertices
// than the layer's 32-bit signed indices reach.
using UsdzError = ModelError;
using Error = ModelFailure;
using engine::description;

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
