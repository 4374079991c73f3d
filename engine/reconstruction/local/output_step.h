#pragma once

#include <vector>

#include "engine/reconstruction/local/pipeline_step.h"

namespace pelorin::engine::local {

// Answers each request from the checkpoint (step outputs): the point cloud from "fused.ply",
// a USDZ package or a copy of the OBJ folder from "textured". Each request ends in its own
// RequestComplete or RequestError; an existing file of the same name is replaced.
void runOutputStep(const StepContext& context, const std::vector<PhotogrammetryRequest>& requests);

}  // namespace pelorin::engine::local
