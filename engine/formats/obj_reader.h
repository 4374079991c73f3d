#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "common/expected.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "engine/formats/model_error.h"
#include "engine/formats/textured_mesh.h"

namespace pelorin::engine::ObjReader {

// Material name to its base-colour image, in name order.
using TextureMap = std::map<std::string, TextureImage>;

// Largest OBJ or texture file read; nothing larger fits a model file with 32-bit sizes anyway.
inline constexpr std::uint64_t maxFileBytes = 0xFFFFFFFFull;

// The first entry of the folder, in listing order, whose extension is "obj" in any case.
std::optional<std::filesystem::path> findObjFile(const std::filesystem::path& folder);

// The mesh of the first OBJ file in folder (see findObjFile) with its textures: noObj without
// such a file, empty when it holds no triangle, or the file's read error.
Expected<TexturedMesh, ModelFailure> readObjFolder(const std::filesystem::path& folder);

// Reads an OBJ file and the textures its first material library names. Malformed lines are
// skipped; only an unreadable file or text that is not UTF-8 fails.
Expected<TexturedMesh, common::FileError> parseOBJ(const std::filesystem::path& file);

// Reads a material library: each material's diffuse texture, loaded from the library's folder.
// An unreadable library gives an empty map; an unreadable texture is left out.
TextureMap parseMTL(const std::filesystem::path& file);

// The text stages of the two above, for callers that hold the text already. parseObjText gives
// groups without textures and reports the first material library name through mtllib.
TexturedMesh parseObjText(std::string_view text, std::string* mtllib = nullptr);
TextureMap parseMtlText(std::string_view text, const std::filesystem::path& folder);

// Gives every group its material's texture, or any texture of the library when its material
// has none.
void assignTextures(TexturedMesh& mesh, const TextureMap& textures);

}  // namespace pelorin::engine::ObjReader
