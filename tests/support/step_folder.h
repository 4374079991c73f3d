#pragma once

#include <gtest/gtest.h>

#include "engine/reconstruction/local/checkpoint.h"
#include "engine/reconstruction/local/pipeline_step.h"
#include "engine/reconstruction/local/run_progress.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::testing {

// A checkpoint folder and the context a step is handed over it.
struct StepFolder {
    ScratchFolder scratch;
    engine::local::Checkpoint checkpoint{scratch / "Checkpoint"};
    engine::local::RunProgress progress{{}, [](engine::PhotogrammetryEvent) {}};
    engine::local::StepContext context{
        checkpoint, progress, [](engine::PhotogrammetryEvent) {}, {}, 2};
    StepFolder() { EXPECT_TRUE(checkpoint.open("{}")); }
};

}  // namespace pelorin::testing
