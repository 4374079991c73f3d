#include "engine/reconstruction/local/reconstruction_pipeline.h"

#include <algorithm>
#include <thread>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>

#include "common/files/file_reader.h"
#include "engine/reconstruction/local/align_step.h"
#include "engine/reconstruction/local/detail_plan.h"
#include "engine/reconstruction/local/heap_thresholds.h"
#include "engine/reconstruction/local/held_out_views.h"
#include "engine/reconstruction/local/output_step.h"
#include "engine/reconstruction/local/prepare_step.h"
#include "engine/reconstruction/local/resource_probes.h"
#include "engine/reconstruction/local/sparse_step.h"
#include "engine/reconstruction/local/stereo/depth_step.h"
#include "engine/reconstruction/local/stereo/fusion_step.h"
#include "engine/reconstruction/local/surface/surface_step.h"
#include "engine/reconstruction/local/texture/texture_step.h"
#include "engine/reconstruction/local/undistort_step.h"

namespace pelorin::engine::local {

namespace {

// Features per photo at each sensitivity.
constexpr int normalFeatures = 4000;
constexpr int highSensitivityFeatures = 8000;
// A checkpoint made by another version of the steps is not reused.
constexpr int checkpointVersion = 3;

std::string settingsOf(const PhotogrammetryConfiguration& configuration, RequestDetail detail,
                       const PipelineOptions& options) {
    auto settings = nlohmann::json{
        {"detail", detailName(detail)},
        {"ordering", configuration.sampleOrdering == SampleOrdering::sequential},
        {"sensitivity", configuration.featureSensitivity == FeatureSensitivity::high},
        {"masking", configuration.isObjectMaskingEnabled},
        {"version", checkpointVersion}};
    // Only when set, so that the checkpoints of ordinary runs keep their settings.
    if (!options.heldOut.empty()) settings["heldOut"] = options.heldOut;
    return settings.dump();
}

void runSteps(StepContext& context, Checkpoint& checkpoint, const SampleSource& samples,
              const PhotogrammetryConfiguration& configuration,
              const std::vector<PhotogrammetryRequest>& requests, const ColmapTool& colmap,
              const PipelineOptions& options) {
    const RequestDetail detail = detailFor(requests);
    const DetailPlan plan = planFor(detail);
    const unsigned threads = context.threads();
    context.setBytesNeeded(checkpointBytesNeeded(0, plan.workingSide, plan.denseSide));
    if (auto opened = checkpoint.open(settingsOf(configuration, detail, options)); !opened)
        context.failWriting(opened.error().description());

    const PreparedImages prepared = runPrepareStep(
        context, samples,
        {.images = {.longSide = plan.workingSide, .useMasks = configuration.isObjectMaskingEnabled},
         .denseSide = plan.denseSide});

    const std::string modelName =
        runSparseSteps(context, colmap, prepared,
                       {.maxFeatures = configuration.featureSensitivity == FeatureSensitivity::high
                                           ? highSensitivityFeatures
                                           : normalFeatures,
                        .ordered = configuration.sampleOrdering == SampleOrdering::sequential,
                        .threads = threads});

    const AlignedModel aligned =
        runAlignStep(context, runUndistortStep(context, modelName), prepared);
    const ObjectRegion region = objectRegion(aligned.model, prepared.manifest, aligned.metric);
    const SparseModel model = holdOut(context, aligned.model, prepared, options.heldOut);

    DepthOptions depth{.denseSide = plan.denseSide, .planes = plan.planes, .threads = threads};
    if (configuration.isObjectMaskingEnabled) {
        for (const auto& image : prepared.images)
            if (image.masked) depth.maskedViews.insert(image.name);
    }
    const auto neighbours = neighboursFor(model, region, depth);
    runDepthStep(context, model, neighbours, region, depth);
    runFusionStep(context, model, neighbours, region,
                  {.denseSide = plan.denseSide,
                   .removeSupport = configuration.isObjectMaskingEnabled,
                   .threads = threads});
    runSurfaceStep(context, colmap, model, neighbours, region,
                   {.points = plan.surfacePoints,
                    .depth = plan.poissonDepth,
                    .faces = plan.faces,
                    .threads = threads});
    const TexturedMesh textured = runTextureStep(context, model, {.atlas = plan.atlas});
    runOutputStep(context, requests, textured);
}

// The plane sweep's images of a few megabytes for every plane and neighbour, mapped afresh,
// doubled the depth maps' time.
void keepImageSizedBlocksOnTheHeap() {
#ifdef __GLIBC__
    static const bool set = [] {
        mallopt(M_MMAP_THRESHOLD, heapMapThresholdBytes);
        mallopt(M_TRIM_THRESHOLD, heapTrimThresholdBytes);
        return true;
    }();
    (void)set;
#endif
}

PhotogrammetryError errorOf(const std::exception_ptr& thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const std::bad_alloc& error) {
        return {PhotogrammetryError::Kind::insufficientMemory, 0, error.what()};
    } catch (const cv::Exception& error) {
        // OpenCV reports a failed allocation as an exception of its own.
        if (error.code == cv::Error::StsNoMem)
            return {PhotogrammetryError::Kind::insufficientMemory, 0, error.what()};
        return PhotogrammetryError::other(error.what());
    } catch (const std::exception& error) {
        return PhotogrammetryError::other(error.what());
    } catch (...) {
        return PhotogrammetryError::other("an unknown exception");
    }
}

}  // namespace

void runReconstruction(const SampleSource& samples,
                       const PhotogrammetryConfiguration& configuration,
                       const std::vector<PhotogrammetryRequest>& requests,
                       const std::function<void(PhotogrammetryEvent)>& emit, std::stop_token stop,
                       const ColmapTool& colmap, const PipelineOptions& options) {
    keepImageSizedBlocksOnTheHeap();
    Checkpoint checkpoint(configuration.checkpointDirectory / "local");
    RunProgress progress(requests, emit);
    StepContext context(checkpoint, progress, emit, std::move(stop),
                        std::max(1u, std::thread::hardware_concurrency()));
    const auto fail = [&](const PhotogrammetryError& error) {
        for (const auto& request : requests) emit(events::RequestError{request, error});
        emit(events::ProcessingComplete{});
    };
    try {
        runSteps(context, checkpoint, samples, configuration, requests, colmap, options);
        emit(events::ProcessingComplete{});
    } catch (const StepCancelled&) {
        emit(events::ProcessingCancelled{});
    } catch (const StepFailure& failure) {
        fail(failure.error);
    } catch (...) {
        // OpenCV, JSON and file-system code may throw, here or in a step's workers; on this
        // thread that must end the run as a failure, never the program.
        fail(errorOf(std::current_exception()));
    }
}

std::optional<std::string> matchingUsed(const std::filesystem::path& checkpointDirectory) {
    auto text = common::readFile(checkpointDirectory / "local" / "matching.txt", 4096);
    if (!text) return std::nullopt;
    std::string line(text->text());
    if (const auto end = line.find('\n'); end != std::string::npos) line.resize(end);
    return line;
}

}  // namespace pelorin::engine::local
