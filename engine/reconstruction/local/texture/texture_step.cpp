#include "engine/reconstruction/local/texture/texture_step.h"

#include <cmath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/formats/obj_reader.h"
#include "engine/formats/obj_writer.h"
#include "engine/reconstruction/local/parallel_for.h"
#include "engine/reconstruction/local/resource_probes.h"
#include "engine/reconstruction/local/stereo/dense_stereo.h"
#include "engine/reconstruction/local/surface/surface_mesh.h"
#include "engine/reconstruction/local/texture/texture_baking.h"

namespace pelorin::engine::local {

namespace fs = std::filesystem;

TexturedMesh runTextureStep(const StepContext& context, const SparseModel& model,
                            const TextureStepOptions& options) {
    if (context.done(Step::texture)) {
        auto textured = ObjReader::readObjFolder(context / "textured");
        if (!textured) StepContext::fail(PhotogrammetryError::other(description(textured.error())));
        return std::move(textured.value());
    }
    context.progress(Step::texture, 0);
    auto mesh = readPlyMesh(context / "mesh.ply");
    if (!mesh) StepContext::fail(PhotogrammetryError::other(mesh.error()));
    // The photos at full working size, three bytes a pixel; smaller when memory is short.
    std::int64_t bytes = 0;
    for (const auto& view : model.views)
        bytes += std::int64_t(view.camera.width) * view.camera.height * 3;
    double scale = 1;
    if (const auto available = availableMemoryBytes();
        available && bytes > *available * options.memoryShare) {
        scale = std::sqrt(*available * options.memoryShare / bytes);
        context.emit(events::AutomaticDownsampling{});
    }
    // Decoding the photos is a second or two on one core: both take a share.
    std::vector<TextureView> loaded(model.views.size());
    {
        const OpenCvThreadsPerWorker serial;
        parallelFor(
            "texture photos", model.views.size(), context.threads(),
            [&](std::size_t i, unsigned) {
                const auto& view = model.views[i];
                cv::Mat image = cv::imread((context / "dense" / "images" / view.name).string(),
                                           cv::IMREAD_COLOR);
                if (image.empty()) return;
                if (scale < 1)
                    cv::resize(image, image,
                               {std::max(1, int(image.cols * scale)),
                                std::max(1, int(image.rows * scale))},
                               0, 0, cv::INTER_AREA);
                loaded[i] = {viewAtSize(view, image.size()), image};
            },
            context.stop());
    }
    context.checkStop();
    std::vector<TextureView> views;
    for (auto& view : loaded)
        if (!view.image.empty()) views.push_back(std::move(view));
    context.progress(Step::texture, 0.3);
    BakeOptions bake;
    bake.atlasSize = options.atlas;
    bake.threads = context.threads();
    const auto baked = bakeTexture(*mesh, std::move(views), bake, context.stop());
    context.checkStop();
    std::error_code ignored;
    fs::remove_all(context / "textured", ignored);
    fs::create_directories(context / "textured", ignored);
    auto textured = texturedMesh(baked);
    if (!textured) context.failWriting(textured.error());
    auto written = ObjWriter::write(*textured, context / "textured");
    if (!written) context.failWriting(description(written.error()));
    context.finish(Step::texture);
    return std::move(textured.value());
}

}  // namespace pelorin::engine::local
