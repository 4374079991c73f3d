#pragma once

#include <filesystem>
#include <string>
#include <variant>

#include "engine/file_error.h"
#include "engine/obj_reader.h"
#include "engine/textured_mesh.h"
#include "link/expected.h"

namespace pelorin::engine::GlbWriter {

enum class GlbError {
    noObj,
    empty,
    // The model does not fit the container's 32-bit lengths.
    tooLarge,
};
std::string description(GlbError error);

// A failed conversion: a problem with the model, or the file system's own error.
using Error = std::variant<GlbError, FileError>;
std::string description(const Error& error);

using Group = MeshGroup;
using ObjReader::parseMTL;
using ObjReader::parseOBJ;

// Converts the first OBJ file in objFolder, with its material library and textures, into one
// binary glTF file at destination, written atomically.
Expected<std::monostate, Error> convert(const std::filesystem::path& objFolder,
                                        const std::filesystem::path& destination);

// The GLB file of a parsed model: one mesh with a primitive per group, textures embedded.
Expected<Bytes, GlbError> buildGLB(const TexturedMesh& mesh);

}  // namespace pelorin::engine::GlbWriter
