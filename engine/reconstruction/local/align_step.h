#pragma once

#include <string>

#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/pipeline_step.h"
#include "engine/reconstruction/local/working_images.h"

namespace pelorin::engine::local {

struct AlignOptions {
    // The phone's positions are trusted only when the fit's squared residual stays under this
    // share of their spread around their mean: then the model is in metres.
    double leastAgreement = 0.05;
    // Without them the model is scaled so that its points' extent measures this, a tabletop
    // object's size in metres.
    double normalisedDiagonal = 0.5;
};

// A model turned upright, and in the phone's frame and units when it measured its positions.
struct AlignedModel {
    SparseModel model;
    bool metric = false;
};

// Upright, and in metres when the phone measured its own positions; the transform is kept in
// the checkpoint so that a resumed run uses the same one.
AlignedModel runAlignStep(const StepContext& context, SparseModel model,
                          const PreparedImages& prepared, const AlignOptions& options = {});

}  // namespace pelorin::engine::local
