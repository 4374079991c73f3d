#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine::local {

// The pipeline's steps in the order they run.
enum class Step {
    prepare,
    features,
    matching,
    mapping,
    undistortion,
    denseStereo,
    fusion,
    surface,
    texture,
    outputs,
};
inline constexpr int stepCount = 10;

// The name of a step's marker in the checkpoint.
std::string_view stepName(Step step);

// Turns "this step is this far" into the service's progress events for every request: one
// fraction for the whole run that never goes backwards, the stage, and the time left.
class RunProgress {
  public:
    RunProgress(std::vector<PhotogrammetryRequest> requests,
                std::function<void(PhotogrammetryEvent)> emit,
                std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now());

    // Reports at most four times a second within a step, but always a new step and its end.
    void report(Step step, double within,
                std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

  private:
    std::vector<PhotogrammetryRequest> requests_;
    std::function<void(PhotogrammetryEvent)> emit_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastReport_{};
    std::optional<Step> lastStep_;
    double lastFraction_ = 0;
};

}  // namespace pelorin::engine::local
