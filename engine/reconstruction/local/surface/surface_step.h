#pragma once

#include <cstddef>

#include "engine/reconstruction/local/colmap/colmap_runner.h"
#include "engine/reconstruction/local/object_region.h"
#include "engine/reconstruction/local/pipeline_step.h"

namespace pelorin::engine::local {

struct SurfaceOptions {
    // Most points the surface is made from; its time grows with them.
    std::size_t points = 250000;
    // Octree depth of the Poisson surface.
    int depth = 9;
    // Poisson trim: surface with less point support than this goes. Lower keeps more of what
    // the photos barely show, and invents surface there (measured in the benchmark notes).
    int trim = 7;
    // Triangle budget of the decimated mesh.
    std::size_t faces = 100000;
    // A cleaned surface with fewer triangles has fallen apart.
    std::size_t leastTriangles = 100;
    unsigned threads = 2;
};

// The surface of the fused cloud (step surface): a Poisson mesh, cropped to the object's
// region and above its support, its largest component, decimated; written as "mesh.ply".
void runSurfaceStep(const StepContext& context, const ColmapTool& colmap,
                    const ObjectRegion& region, const SurfaceOptions& options);

}  // namespace pelorin::engine::local
