#pragma once

#include <filesystem>
#include <variant>

#include "common/expected.h"
#include "engine/formats/model_error.h"
#include "engine/formats/obj_reader.h"
#include "engine/formats/textured_mesh.h"

namespace pelorin::engine::GlbWriter {

// noObj, empty, or tooLarge when the file would pass the container's 32-bit lengths.
using GlbError = ModelError;
using Error = ModelFailure;
using engine::description;

using Group = MeshGroup;
using ObjReader::parseMTL;
using ObjReader::parseOBJ;

// The GLB file of the mesh, written atomically to destination.
Expected<std::monostate, Error> write(const TexturedMesh& mesh,
                                      const std::filesystem::path& destination);

// Converts the first OBJ file in objFolder, with its material library and textures, into one
// binary glTF file at destination, written atomically.
Expected<std::monostate, Error> convert(const std::filesystem::path& objFolder,
                                        const std::filesystem::path& destination);

// The GLB file of a parsed model: one mesh with a primitive per group, textures embedded.
Expected<Bytes, GlbError> buildGLB(const TexturedMesh& mesh);

}  // namespace pelorin::engine::GlbWriter
