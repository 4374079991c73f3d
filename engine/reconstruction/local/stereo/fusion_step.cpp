#include "engine/reconstruction/local/stereo/fusion_step.h"

#include "engine/reconstruction/local/stereo/dense_stereo.h"
#include "engine/reconstruction/local/stereo/depth_fusion.h"
#include "engine/reconstruction/local/stereo/depth_step.h"
#include "engine/reconstruction/local/surface/background_planes.h"
#include "engine/reconstruction/local/surface/seen_through.h"
#include "engine/reconstruction/local/surface/support_plane.h"
#include "engine/reconstruction/local/surface/surface_mesh.h"

namespace pelorin::engine::local {

void runFusionStep(const StepContext& context, const SparseModel& model,
                   const std::vector<ViewNeighbours>& neighbours, const ObjectRegion& region,
                   const FusionStepOptions& options) {
    if (context.done(Step::fusion)) return;
    context.progress(Step::fusion, 0);
    std::vector<DepthMap> maps;
    std::vector<cv::Mat> colours;
    for (std::size_t i = 0; i < model.views.size(); ++i) {
        context.checkStop();
        const auto& view = model.views[i];
        maps.push_back(loadViewDepth(context, view));
        const cv::Mat colour = denseColour(context, view, options.denseSide);
        if (colour.empty())
            StepContext::fail(
                PhotogrammetryError::other("an undistorted photo is missing: " + view.name));
        colours.push_back(colour);
        context.progress(Step::fusion, 0.5 * (i + 1) / model.views.size());
    }
    FusionOptions fusion;
    fusion.keep = [&region](const Vec3& p) { return region.contains(p); };
    fusion.threads = options.threads;
    fusion.cellInPixels = options.cellInPixels;
    auto points = fuseDepthMaps(maps, colours, neighbours, fusion);
    if (options.removeSeenThrough) {
        std::vector<Vec3> positions;
        positions.reserve(points.size());
        for (const auto& point : points) positions.push_back(point.position);
        SeenThroughOptions check;
        check.threads = options.threads;
        const std::vector<bool> empty =
            seenThrough(positions, {}, maps, neighbours, check, context.stop());
        context.checkStop();
        std::size_t kept = 0;
        for (std::size_t i = 0; i < points.size(); ++i)
            if (!empty[i]) points[kept++] = points[i];
        points.resize(kept);
    }
    if (options.removeSupport) {
        if (const auto support = supportHeight(points)) {
            std::erase_if(points, [&](const DensePoint& p) { return p.position[1] < *support; });
            context.write("support.txt", std::to_string(*support) + "\n");
        }
        // The phone's bounds leave no background; without them, walls and tables remain.
        if (!region.bounded) {
            std::vector<Vec3> cameras;
            for (const auto& view : model.views) cameras.push_back(view.centre);
            removeBackground(points, cameras);
        }
    }
    if (points.size() < options.leastPoints)
        StepContext::fail(
            {PhotogrammetryError::Kind::invalidImages, 0,
             "too few dense points to make a surface: the photos show too little texture"});
    auto written = writePlyPoints(points, context / "fused.ply");
    if (!written) context.failWriting(written.error());
    context.finish(Step::fusion);
}

}  // namespace pelorin::engine::local
