#pragma once

#include <string>

#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/pipeline_step.h"

namespace pelorin::engine::local {

struct UndistortOptions {
    // JPEG quality of the undistorted photos: every depth and every texel of the model is made
    // from them.
    int jpegQuality = 100;
};

// Undistorts the kept model's photos into "dense/images" and its cameras into the pinhole
// model "dense/sparse_text" (step undistortion), then reads that model back.
SparseModel runUndistortStep(const StepContext& context, const std::string& modelName,
                             const UndistortOptions& options = {});

}  // namespace pelorin::engine::local
