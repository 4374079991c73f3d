#include "engine/reconstruction/local/surface/surface_step.h"

#include <fstream>

#include "engine/reconstruction/local/stereo/depth_fusion.h"
#include "engine/reconstruction/local/stereo/depth_step.h"
#include "engine/reconstruction/local/surface/mesh_decimation.h"
#include "engine/reconstruction/local/surface/seen_through.h"
#include "engine/reconstruction/local/surface/surface_mesh.h"

namespace pelorin::engine::local {

void runSurfaceStep(const StepContext& context, const ColmapTool& colmap, const SparseModel& model,
                    const std::vector<ViewNeighbours>& neighbours, const ObjectRegion& region,
                    const SurfaceOptions& options) {
    if (context.done(Step::surface)) return;
    context.progress(Step::surface, 0);
    auto cloud = readPlyPoints(context / "fused.ply");
    if (!cloud) StepContext::fail(PhotogrammetryError::other(cloud.error()));
    auto written =
        writePlyPoints(thinPoints(*cloud, options.points), context / "surface_points.ply");
    if (!written) context.failWriting(written.error());
    runColmap(context, colmap, Step::surface,
              {"poisson_mesher", "--input_path", "surface_points.ply", "--output_path",
               "poisson.ply", "--PoissonMeshing.depth", std::to_string(options.depth),
               "--PoissonMeshing.trim", std::to_string(options.trim),
               "--PoissonMeshing.num_threads", std::to_string(options.threads),
               // The texture comes from the photos: colours interpolated into the surface would
               // be thrown away.
               "--PoissonMeshing.color", "0"},
              0);
    context.progress(Step::surface, 0.6);
    std::vector<float> pointSupport;
    auto mesh = readPlyMesh(context / "poisson.ply", &pointSupport);
    if (!mesh) StepContext::fail(PhotogrammetryError::other(mesh.error()));
    if (options.removeSeenThrough) {
        std::vector<DepthMap> maps;
        for (const auto& view : model.views) {
            context.checkStop();
            maps.push_back(loadViewDepth(context, view));
        }
        SeenThroughOptions seenThrough;
        seenThrough.threads = options.threads;
        *mesh =
            removeSeenThrough(*mesh, pointSupport, maps, neighbours, seenThrough, context.stop());
        context.checkStop();
    }
    context.progress(Step::surface, 0.7);
    std::optional<double> support;
    if (std::ifstream in(context / "support.txt"); in) {
        double height;
        if (in >> height) support = height;
    }
    // The surface closes itself under the object; what lies below its support goes.
    SurfaceMesh cleaned = largestComponent(keepInside(*mesh, [&](const Vec3& p) {
        return region.contains(p) && (!support || p[1] >= *support);
    }));
    if (cleaned.triangles.size() < options.leastTriangles)
        StepContext::fail(PhotogrammetryError::other("the surface fell apart in clean-up"));
    cleaned = decimate(cleaned, options.faces, context.stop(), options.threads);
    context.checkStop();
    written = writePlyMesh(cleaned, context / "mesh.ply");
    if (!written) context.failWriting(written.error());
    context.finish(Step::surface);
}

}  // namespace pelorin::engine::local
