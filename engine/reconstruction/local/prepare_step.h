#pragma once

#include "engine/reconstruction/local/pipeline_step.h"
#include "engine/reconstruction/local/working_images.h"

namespace pelorin::engine::local {

struct PrepareStepOptions {
    PrepareOptions images;
    // Detail sizes, for the estimate of what the checkpoint will need on the disk.
    int denseSide = 800;
};

// The working images (step prepare), or those of an earlier run. Reports InvalidSample for each
// unreadable photo and InputComplete when all are in; fails when too few remain or the disk
// cannot hold the run.
PreparedImages runPrepareStep(StepContext& context, const SampleSource& samples,
                              const PrepareStepOptions& options);

}  // namespace pelorin::engine::local
