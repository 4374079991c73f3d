#include "engine/reconstruction/local/prepare_step.h"

#include "engine/reconstruction/local/resource_probes.h"

namespace pelorin::engine::local {

namespace {
// Structure from motion needs three photos at the very least.
constexpr std::size_t leastPhotos = 3;
}  // namespace

PreparedImages runPrepareStep(StepContext& context, const SampleSource& samples,
                              const PrepareStepOptions& options) {
    auto bytesNeeded = [&](std::size_t photos) {
        return checkpointBytesNeeded(std::int64_t(photos), options.images.longSide,
                                     options.denseSide);
    };
    context.progress(Step::prepare, 0);
    if (context.done(Step::prepare)) {
        if (auto loaded = loadPrepared(context / "prepared.json")) {
            context.setBytesNeeded(bytesNeeded(loaded->images.size()));
            context.emit(events::InputComplete{});
            return std::move(*loaded);
        }
    }
    PrepareEvents events;
    events.invalid = [&](std::int64_t id, const std::string& reason) {
        context.emit(events::InvalidSample{id, reason});
    };
    events.progress = [&](std::size_t count) {
        context.setBytesNeeded(bytesNeeded(count));
        context.progress(Step::prepare, 1 - 1.0 / (1 + count / 20.0));
    };
    auto made = prepareImages(samples, context.folder(), options.images, events, context.stop());
    context.checkStop();
    if (!made) {
        if (made.error().kind == PhotogrammetryError::Kind::invalidOutput)
            context.failWriting(made.error().description);
        StepContext::fail(made.error());
    }
    PreparedImages prepared = std::move(made.value());
    context.setBytesNeeded(bytesNeeded(prepared.images.size()));
    context.emit(events::InputComplete{});
    if (prepared.images.size() < leastPhotos)
        StepContext::fail(
            {PhotogrammetryError::Kind::invalidImages, 0, "fewer than three readable photos"});
    if (const auto free = freeDiskBytes(context.folder()); free && *free < context.bytesNeeded())
        StepContext::fail({PhotogrammetryError::Kind::insufficientStorage,
                           context.bytesNeeded() - *free,
                           "the disk cannot hold the reconstruction"});
    auto saved = savePrepared(prepared, context / "prepared.json");
    if (!saved) context.failWriting(saved.error());
    context.finish(Step::prepare);
    return prepared;
}

}  // namespace pelorin::engine::local
