#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/expected.h"
#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/pipeline_step.h"
#include "engine/reconstruction/local/working_images.h"

namespace pelorin::engine::local {

// A photo that structure from motion placed but that the model was not made from: its own file
// name, its camera in the model's own frame and the undistorted image that camera describes.
struct HeldOutView {
    std::string photo;
    RegisteredView view;
    std::filesystem::path image;
};

// Takes the photos with the given file names out of the model that the dense steps and
// texturing see, and records their cameras (in the frame the model is written in) in the
// checkpoint for readHeldOutViews. A photo that structure from motion left out is not recorded.
SparseModel holdOut(const StepContext& context, SparseModel model, const PreparedImages& prepared,
                    const std::set<std::string>& photos);

// The held-out photos of the last run in this checkpoint folder; fails with a one-line reason
// when the run held none out or the record is damaged.
pelorin::Expected<std::vector<HeldOutView>, std::string> readHeldOutViews(
    const std::filesystem::path& checkpointDirectory);

}  // namespace pelorin::engine::local
