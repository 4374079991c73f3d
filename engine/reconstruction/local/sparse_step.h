#pragma once

#include <string>

#include "engine/reconstruction/local/colmap/colmap_runner.h"
#include "engine/reconstruction/local/colmap/descriptor_matching.h"
#include "engine/reconstruction/local/colmap/pair_selection.h"
#include "engine/reconstruction/local/pipeline_step.h"
#include "engine/reconstruction/local/working_images.h"

namespace pelorin::engine::local {

struct SparseOptions {
    // Features per photo; more find more matches on weakly textured objects, slower.
    int maxFeatures = 4000;
    // Whether the samples come in the order they were taken: then each photo is also matched
    // with its best partners before and after it.
    bool ordered = true;
    // Which pairs are worth matching in full.
    PairSelectionOptions pairs;
    // Only each photo's largest features are matched in full, since the cost grows with the
    // square of their number: on the 12 MP trunk 2500 halved the aligning, with the same photos
    // registered and the same held-out PSNR. The statue's photos give about 2200.
    int matchedFeatures = 2500;
    // When two features of a pair matched in full are one.
    DescriptorMatchOptions matches;
    // Photos of one size share a camera when their known focal lengths differ by at most this
    // share.
    double sameLens = 0.01;
    // With the phone's positions each photo is also matched with this many nearest photos.
    int spatialNeighbours = 4;
    // A model that holds fewer than this share of the photos is no model of the object.
    double leastRegisteredShare = 0.2;
    unsigned threads = 2;
};

// Features, matching and mapping with COLMAP (steps features, matching and mapping), then
// converts the largest model to text. Which matching was used is written to "matching.txt". Reports
// StitchingIncomplete when the mapper made several models and SkippedSample for every photo the
// kept model left out. Returns the kept model's folder name under "sparse_text".
std::string runSparseSteps(const StepContext& context, const ColmapTool& colmap,
                           const PreparedImages& prepared, const SparseOptions& options);

}  // namespace pelorin::engine::local
