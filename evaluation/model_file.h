#pragma once

#include <filesystem>
#include <string>

#include "common/expected.h"
#include "engine/formats/textured_mesh.h"
#include "evaluation/mesh.h"

namespace pelorin::evaluation {

// A model as the engine or a user hands it over: an OBJ folder or file, a .glb, a .usdz or a
// .ply (geometry only: one untextured group). Fails with a one-line reason.
pelorin::Expected<engine::TexturedMesh, std::string> loadTexturedModel(
    const std::filesystem::path& path);

// The positions and triangles of a textured mesh, for measuring.
Mesh geometryOf(const engine::TexturedMesh& mesh);

}  // namespace pelorin::evaluation
