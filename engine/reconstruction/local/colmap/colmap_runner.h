#pragma once

#include <string>
#include <vector>

#include "engine/reconstruction/local/pipeline_step.h"

namespace pelorin::engine::local {

// Which COLMAP to run; tests point it elsewhere.
struct ColmapTool {
    std::string program = "colmap";
};

// Runs one COLMAP command in the checkpoint folder, turning its log into the step's progress
// (`imageCount` photos; 0 when the command's log tells no count). A failure ends the step, with
// a full disk told apart, unless `mayFail`: then it comes back as false.
bool runColmap(const StepContext& context, const ColmapTool& tool, Step step,
               std::vector<std::string> arguments, int imageCount, bool mayFail = false);

}  // namespace pelorin::engine::local
