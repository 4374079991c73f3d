#pragma once

#include "engine/formats/textured_mesh.h"
#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/pipeline_step.h"

namespace pelorin::engine::local {

struct TextureStepOptions {
    // Edge of the square texture atlas, in pixels.
    int atlas = 4096;
    // The photos may take at most this share of the memory the system can give; beyond it
    // they are scaled down and AutomaticDownsampling is reported.
    double memoryShare = 0.5;
};

// Bakes the mesh's texture from the undistorted photos (step texture) into the OBJ folder
// "textured" (obj, mtl and png), and hands the textured mesh on to the model writers; after a
// resume it is read back from that folder once.
TexturedMesh runTextureStep(const StepContext& context, const SparseModel& model,
                            const TextureStepOptions& options);

}  // namespace pelorin::engine::local
