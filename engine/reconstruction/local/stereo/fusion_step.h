#pragma once

#include <vector>

#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/object_region.h"
#include "engine/reconstruction/local/pipeline_step.h"
#include "engine/reconstruction/local/stereo/view_selection.h"

namespace pelorin::engine::local {

struct FusionStepOptions {
    // Long side of the depth maps, for the colours that go with them.
    int denseSide = 800;
    // Edge of the cells points merge in, in multiples of the typical pixel footprint.
    double cellInPixels = 1.5;
    // Removes the support the object stands on (recorded as "support.txt" for the surface) and,
    // where the region was found from the photos, the planes behind and under the object.
    bool removeSupport = true;
    // Removes the points that the views' depth maps see through (seenThrough): a leg's depth
    // that a map carried past its edge, say. On the statue 0.1-0.2 dB more held-out PSNR and up
    // to 4% less error.
    bool removeSeenThrough = true;
    // Fewer points than this make no surface.
    std::size_t leastPoints = 1000;
    unsigned threads = 2;
};

// Merges the depth maps into one coloured cloud inside the object's region, without what the
// maps see through (step fusion), written as "fused.ply".
void runFusionStep(const StepContext& context, const SparseModel& model,
                   const std::vector<ViewNeighbours>& neighbours, const ObjectRegion& region,
                   const FusionStepOptions& options);

}  // namespace pelorin::engine::local
