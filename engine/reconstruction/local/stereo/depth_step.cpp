#include "engine/reconstruction/local/stereo/depth_step.h"

#include <algorithm>
#include <mutex>
#include <set>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/reconstruction/local/parallel_for.h"
#include "engine/reconstruction/local/stereo/dense_stereo.h"
#include "engine/reconstruction/local/stereo/depth_map_file.h"

namespace pelorin::engine::local {

namespace fs = std::filesystem;

namespace {

// The nearest and the farthest hundredth of the sparse points' depths are taken for outliers.
constexpr std::size_t depthOutlierFraction = 100;
// Fewer points than this tell too little to narrow a range.
constexpr std::size_t leastPointsForRange = 20;

StereoView stereoView(const StepContext& context, const RegisteredView& view,
                      const DepthOptions& options, bool masked) {
    StereoView stereo;
    const cv::Mat colour = denseColour(context, view, options.denseSide);
    if (colour.empty())
        StepContext::fail(
            PhotogrammetryError::other("an undistorted photo is missing: " + view.name));
    stereo.view = viewAtSize(view, colour.size());
    cv::Mat grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    grey.convertTo(stereo.grey, CV_32F);
    if (masked) {
        cv::Mat mask =
            cv::imread((context / "masks" / (view.name + ".png")).string(), cv::IMREAD_GRAYSCALE);
        if (!mask.empty()) cv::resize(mask, stereo.mask, colour.size(), 0, 0, cv::INTER_NEAREST);
    }
    return stereo;
}

// Stereo on the part of the photo where the object can be, the rest left without depth: the
// object commonly fills a third of the frame.
DepthMap depthInRegion(const StereoView& reference, const std::vector<StereoView>& others,
                       const ViewNeighbours& range, const StereoOptions& options,
                       const ObjectRegion& region) {
    // The image's own size bounds the region: its camera may have been rounded differently.
    const cv::Rect image(0, 0, reference.grey.cols, reference.grey.rows);
    double x0 = image.width, y0 = image.height, x1 = 0, y1 = 0;
    bool whole = false;
    for (const auto& point : region.outline()) {
        const Vec3 pixel = reference.view.project(point);
        if (pixel[2] <= 0) {
            whole = true;
            break;
        }
        x0 = std::min(x0, pixel[0]), x1 = std::max(x1, pixel[0]);
        y0 = std::min(y0, pixel[1]), y1 = std::max(y1, pixel[1]);
    }
    const int margin = options.window;
    cv::Rect roi = image;
    if (!whole) {
        roi &= cv::Rect(int(x0) - margin, int(y0) - margin, int(x1 - x0) + 2 * margin,
                        int(y1 - y0) + 2 * margin);
    }
    DepthMap result{reference.view, cv::Mat::zeros(reference.grey.size(), CV_32F)};
    if (roi.width < 2 * margin || roi.height < 2 * margin) return result;
    StereoView part;
    part.view = reference.view;
    part.view.camera.width = roi.width;
    part.view.camera.height = roi.height;
    part.view.camera.cx -= roi.x;
    part.view.camera.cy -= roi.y;
    part.grey = reference.grey(roi).clone();
    if (!reference.mask.empty()) part.mask = reference.mask(roi).clone();
    const auto map = computeDepthMap(part, others, range.nearest, range.farthest, options);
    map.depth.copyTo(result.depth(roi));
    return result;
}

}  // namespace

std::vector<ViewNeighbours> neighboursFor(const SparseModel& model, const ObjectRegion& region,
                                          const DepthOptions& options) {
    auto neighbours = selectNeighbours(model, options.neighbours);
    for (std::size_t i = 0; i < model.views.size(); ++i) {
        const auto& view = model.views[i];
        std::vector<double> depths;
        for (auto id : view.pointIds) {
            const auto point = model.points.find(id);
            if (point == model.points.end() || !region.contains(point->second.position)) continue;
            const double depth = view.toCamera(point->second.position)[2];
            if (depth > 0) depths.push_back(depth);
        }
        if (depths.size() < leastPointsForRange) continue;
        std::sort(depths.begin(), depths.end());
        const std::size_t outliers = depths.size() / depthOutlierFraction;
        neighbours[i].nearest = 0.9 * depths[outliers];
        neighbours[i].farthest = 1.1 * depths[depths.size() - 1 - outliers];
    }
    return neighbours;
}

cv::Mat denseColour(const StepContext& context, const RegisteredView& view, int denseSide) {
    cv::Mat image =
        cv::imread((context / "dense" / "images" / view.name).string(), cv::IMREAD_COLOR);
    if (image.empty()) return image;
    // Scaled from the image's own size, to a size given whole so that each axis maps exactly.
    const double scale = std::min(1.0, denseSide / double(std::max(image.cols, image.rows)));
    const cv::Size size(std::max(1, int(std::lround(image.cols * scale))),
                        std::max(1, int(std::lround(image.rows * scale))));
    if (size == image.size()) return image;
    cv::Mat small;
    cv::resize(image, small, size, 0, 0, cv::INTER_AREA);
    return small;
}

fs::path depthFile(const StepContext& context, const RegisteredView& view) {
    return context / "depth" / (std::to_string(view.id) + ".bin");
}

DepthMap loadViewDepth(const StepContext& context, const RegisteredView& view) {
    auto depth = loadDepthMap(depthFile(context, view));
    if (!depth) StepContext::fail(PhotogrammetryError::other("a depth map is missing"));
    return {viewAtSize(view, depth->size()), *depth};
}

void runDepthStep(const StepContext& context, const SparseModel& model,
                  const std::vector<ViewNeighbours>& neighbours, const ObjectRegion& region,
                  const DepthOptions& options) {
    if (context.done(Step::denseStereo)) return;
    context.progress(Step::denseStereo, 0);
    std::error_code ignored;
    fs::create_directories(context / "depth", ignored);
    const std::size_t count = model.views.size();
    std::vector<StereoView> views(count);
    std::size_t finished = 0;
    std::mutex lock;
    {
        const OpenCvThreadsPerWorker serial;  // the views run side by side instead
        // Decoding the photos took a second on one core.
        parallelFor(
            "depth photos", count, options.threads,
            [&](std::size_t i, unsigned) {
                views[i] = stereoView(context, model.views[i], options,
                                      options.maskedViews.count(model.views[i].name) > 0);
            },
            context.stop());
        context.checkStop();
        parallelFor(
            "depth maps", count, options.threads,
            [&](std::size_t i, unsigned) {
                const fs::path file = depthFile(context, model.views[i]);
                if (!fs::exists(file)) {
                    std::vector<StereoView> others;
                    for (std::size_t n : neighbours[i].neighbours) others.push_back(views[n]);
                    StereoOptions stereo;
                    stereo.planes = options.planes;
                    const auto map = depthInRegion(views[i], others, neighbours[i], stereo, region);
                    auto saved = saveDepthMap(map.depth, file);
                    if (!saved) context.failWriting(saved.error().description());
                }
                std::lock_guard guard(lock);
                context.progress(Step::denseStereo, double(++finished) / count);
            },
            context.stop());
    }
    context.checkStop();
    context.finish(Step::denseStereo);
}

}  // namespace pelorin::engine::local
