#pragma once

#include <set>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/object_region.h"
#include "engine/reconstruction/local/pipeline_step.h"
#include "engine/reconstruction/local/stereo/dense_stereo.h"
#include "engine/reconstruction/local/stereo/view_selection.h"

namespace pelorin::engine::local {

struct DepthOptions {
    // Long side of the depth maps.
    int denseSide = 800;
    // Depth hypotheses tried per pixel.
    int planes = 96;
    // Neighbours each view is compared with. A fourth finds more of the surface seen past the
    // parts in front of it, for a third more time in stereo.
    std::size_t neighbours = 4;
    // Views whose photos were masked: their masks keep stereo off the background.
    std::set<std::string> maskedViews;
    unsigned threads = 2;
};

// Each view's neighbours, with depth ranges narrowed to where the object can be: fewer
// hypotheses then reach finer steps.
std::vector<ViewNeighbours> neighboursFor(const SparseModel& model, const ObjectRegion& region,
                                          const DepthOptions& options);

// An undistorted photo at depth-map size; empty when it is missing.
cv::Mat denseColour(const StepContext& context, const RegisteredView& view, int denseSide);

// Where a view's depth map lies in the checkpoint.
std::filesystem::path depthFile(const StepContext& context, const RegisteredView& view);

// A view's depth map from the checkpoint, with the view's camera at its size; fails the step
// when it is missing or malformed.
DepthMap loadViewDepth(const StepContext& context, const RegisteredView& view);

// A depth map per view (step denseStereo), views side by side on the run's threads, each
// only inside the object's outline in its photo.
void runDepthStep(const StepContext& context, const SparseModel& model,
                  const std::vector<ViewNeighbours>& neighbours, const ObjectRegion& region,
                  const DepthOptions& options);

}  // namespace pelorin::engine::local
