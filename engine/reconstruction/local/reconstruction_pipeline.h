#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/reconstruction/local/colmap/colmap_runner.h"
#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine::local {

// What a run is told beyond the service's configuration, for measuring the backend.
struct PipelineOptions {
    // Photos (by file name) that structure from motion places but the model is not made from,
    // so that the model can be compared with them from their own cameras (readHeldOutViews).
    std::set<std::string> heldOut;
};

// Photos to a textured model on the CPU, step by step inside the checkpoint folder so that a
// stopped run picks up after its last finished step: working images, features, matches, the
// sparse model (COLMAP), undistortion, orientation and scale, depth maps, fusion, surface,
// clean-up and decimation, texture, and the requested outputs. Every event of the service's
// stream goes to `emit`, ending with ProcessingComplete or ProcessingCancelled.
void runReconstruction(const SampleSource& samples,
                       const PhotogrammetryConfiguration& configuration,
                       const std::vector<PhotogrammetryRequest>& requests,
                       const std::function<void(PhotogrammetryEvent)>& emit, std::stop_token stop,
                       const ColmapTool& colmap = {}, const PipelineOptions& options = {});

// How the last run in this checkpoint folder chose the photo pairs it matched, in a line, once
// matching has run.
std::optional<std::string> matchingUsed(const std::filesystem::path& checkpointDirectory);

}  // namespace pelorin::engine::local
