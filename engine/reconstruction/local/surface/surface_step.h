#pragma once

#include <cstddef>
#include <vector>

#include "engine/reconstruction/local/colmap/colmap_runner.h"
#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/object_region.h"
#include "engine/reconstruction/local/pipeline_step.h"
#include "engine/reconstruction/local/stereo/view_selection.h"

namespace pelorin::engine::local {

struct SurfaceOptions {
    // Most points the surface is made from; its time grows with them.
    std::size_t points = 250000;
    // Octree depth of the Poisson surface.
    int depth = 9;
    // Poisson trim: surface with less point support than this goes. Lower keeps more of what
    // the photos barely show, and invents surface there (measured in the benchmark notes);
    // what the depth maps then see through goes again.
    int trim = 5;
    // Whether surface that the depth maps see through is removed (removeSeenThrough). With it
    // and the lower trim the statue kept 1.2-1.5 points more of the surface its photos see and
    // 0.15-0.3 dB more held-out PSNR, for 1-3% more error.
    bool removeSeenThrough = true;
    // Triangle budget of the decimated mesh.
    std::size_t faces = 100000;
    // A cleaned surface with fewer triangles has fallen apart.
    std::size_t leastTriangles = 100;
    unsigned threads = 2;
};

// The surface of the fused cloud (step surface): a Poisson mesh without what the views' depth
// maps see through, cropped to the object's region and above its support, its largest
// component, decimated; written as "mesh.ply". `neighbours` runs in the order of the model's
// views, as stereo chose them.
void runSurfaceStep(const StepContext& context, const ColmapTool& colmap, const SparseModel& model,
                    const std::vector<ViewNeighbours>& neighbours, const ObjectRegion& region,
                    const SurfaceOptions& options);

}  // namespace pelorin::engine::local
