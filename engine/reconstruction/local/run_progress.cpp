#include "engine/reconstruction/local/run_progress.h"

#include <algorithm>

namespace pelorin::engine::local {

namespace {

// Each step's share of a typical run's time, measured on the statue at medium.
constexpr double stepWeight[stepCount] = {0.06, 0.10, 0.20, 0.10, 0.03,
                                          0.30, 0.04, 0.08, 0.07, 0.02};
constexpr ProcessingStage stepStage[stepCount] = {
    ProcessingStage::preProcessing,        ProcessingStage::imageAlignment,
    ProcessingStage::imageAlignment,       ProcessingStage::imageAlignment,
    ProcessingStage::pointCloudGeneration, ProcessingStage::pointCloudGeneration,
    ProcessingStage::pointCloudGeneration, ProcessingStage::meshGeneration,
    ProcessingStage::textureMapping,       ProcessingStage::optimization};
constexpr std::string_view stepNames[stepCount] = {"prepare",   "features", "matching", "mapping",
                                                   "undistort", "depth",    "fusion",   "surface",
                                                   "texture",   "outputs"};
// Too early a guess of the time left swings wildly.
constexpr double leastFractionForEstimate = 0.03;
constexpr auto reportInterval = std::chrono::milliseconds(250);

}  // namespace

std::string_view stepName(Step step) {
    return stepNames[static_cast<int>(step)];
}

RunProgress::RunProgress(std::vector<PhotogrammetryRequest> requests,
                         std::function<void(PhotogrammetryEvent)> emit,
                         std::chrono::steady_clock::time_point started)
    : requests_(std::move(requests)), emit_(std::move(emit)), started_(started) {}

void RunProgress::report(Step step, double within, std::chrono::steady_clock::time_point now) {
    const int index = static_cast<int>(step);
    double fraction = 0;
    for (int s = 0; s < index; ++s) fraction += stepWeight[s];
    fraction += stepWeight[index] * std::clamp(within, 0.0, 1.0);
    const bool newStep = step != lastStep_;
    if (!newStep && now - lastReport_ < reportInterval && within < 1) return;
    lastReport_ = now;
    lastStep_ = step;
    fraction = std::max(fraction, lastFraction_);
    lastFraction_ = fraction;
    std::optional<double> remaining;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    if (fraction > leastFractionForEstimate && fraction < 1)
        remaining = elapsed * (1 - fraction) / fraction;
    for (const auto& request : requests_) {
        emit_(events::RequestProgress{request, fraction});
        emit_(events::RequestProgressInfo{request, {stepStage[index], remaining}});
    }
}

}  // namespace pelorin::engine::local
