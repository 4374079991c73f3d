#pragma once

#include <vector>

#include "engine/formats/textured_mesh.h"
#include "engine/reconstruction/local/pipeline_step.h"

namespace pelorin::engine::local {

// Answers each request (step outputs): the point cloud from the checkpoint's "fused.ply"; a
// USDZ package or a GLB file (by the request's extension) from the textured mesh; any other
// model file as a copy of the checkpoint's OBJ folder "textured". Each request ends in its own
// RequestComplete or RequestError; an existing file of the same name is replaced.
void runOutputStep(const StepContext& context, const std::vector<PhotogrammetryRequest>& requests,
                   const TexturedMesh& textured);

}  // namespace pelorin::engine::local
