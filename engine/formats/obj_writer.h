#pragma once

#include <filesystem>
#include <string>

#include "common/expected.h"
#include "engine/formats/model_error.h"
#include "engine/formats/textured_mesh.h"

namespace pelorin::engine::ObjWriter {

// Writes `<stem>.obj` and `<stem>.mtl` into `folder` (each atomically), with one material per
// group whose texture is written beside them as `<stem>.png` (or `<stem>-<n>.png` for further
// images; groups sharing image bytes share the file). Corners at one position, or with one
// normal, share one `v` or `vn` line, so that the file keeps the surface's connectivity even
// when each corner carries a texture coordinate of its own.
Expected<std::monostate, ModelFailure> write(const TexturedMesh& mesh,
                                             const std::filesystem::path& folder,
                                             const std::string& stem = "model");

}  // namespace pelorin::engine::ObjWriter
