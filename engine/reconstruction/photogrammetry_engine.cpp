#include "engine/reconstruction/photogrammetry_engine.h"

#include <fcntl.h>
#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "common/formatters.h"
#include "engine/capture/capture_sample_sequence.h"
#include "engine/formats/point_cloud_writer.h"
#include "engine/photos/photo_finder.h"
#include "engine/reconstruction/engine_log.h"

namespace pelorin::engine {

std::string EngineError::description() const {
    switch (kind) {
        case Kind::notEnoughImages:
            return "Found " + std::to_string(found) + " usable photos. At least " +
                   std::to_string(needed) + " are needed.";
        case Kind::failed:
        case Kind::noSpace:
            return text;
        case Kind::notSupported:
            return "This computer cannot build models. Install the colmap package, then start "
                   "Studio again.";
        case Kind::cancelled:
            return "Processing was cancelled.";
    }
    return text;
}

namespace PhotogrammetryEngine {

namespace {

namespace fs = std::filesystem;
using link::ProcessingDetail;
using link::ProcessingOptions;

const std::string genericFailure =
    "These photos could not be turned into a 3D model. Studio needs 20 or more "
    "overlapping photos of one object, taken all the way around it. Separate photos of different "
    "things cannot be joined.";

RequestDetail requestDetail(ProcessingDetail detail) {
    switch (detail) {
        case ProcessingDetail::preview:
            return RequestDetail::preview;
        case ProcessingDetail::reduced:
            return RequestDetail::reduced;
        case ProcessingDetail::medium:
            return RequestDetail::medium;
        case ProcessingDetail::full:
            return RequestDetail::full;
    }
    return RequestDetail::medium;
}

std::string stageTitle(ProcessingStage stage) {
    switch (stage) {
        case ProcessingStage::preProcessing:
            return "Preparing";
        case ProcessingStage::imageAlignment:
            return "Aligning photos";
        case ProcessingStage::meshGeneration:
            return "Building mesh";
        case ProcessingStage::optimization:
            return "Optimising";
        case ProcessingStage::textureMapping:
            return "Painting textures";
        case ProcessingStage::pointCloudGeneration:
            return "Building point cloud";
    }
    return "Working";
}

fs::path stagingFolder(const fs::path& output) {
    return output.parent_path() / (output.filename().string() + ".building");
}

void removeIgnoringErrors(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

bool isRegularFile(const fs::path& file) {
    std::error_code error;
    return fs::is_regular_file(file, error);
}

bool isNonEmptyFolder(const fs::path& folder) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    return !error && it != fs::directory_iterator();
}

// Replaces `target` with `source` in one step: a rename when the target does not exist, an
// exchange of the two otherwise, so that a reader never sees neither.
std::optional<std::string> publish(const fs::path& source, const fs::path& target) {
    std::error_code error;
    if (!fs::exists(target, error)) {
        fs::rename(source, target, error);
        return error ? std::optional(error.message()) : std::nullopt;
    }
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0) {
        return std::string(std::strerror(errno));
    }
    removeIgnoringErrors(source);
    return std::nullopt;
}

// The progress, stage and remarks of one attempt's event stream.
class EventLoop {
  public:
    EventLoop(const std::vector<PhotogrammetryRequest>& requests, const fs::path& mainModel,
              const ProgressHandler& progress)
        : requests_(requests), mainModel_(mainModel), progress_(progress) {}

    // Nothing while the stream goes on; the end of the attempt once it is decided.
    enum class Step { next, complete, cancelled };

    Step handle(const PhotogrammetryEvent& event, const fs::path& staging) {
        return std::visit([&](const auto& e) { return on(e, staging); }, event);
    }

    std::optional<EngineError> mainError;
    bool mainFinished = false;
    bool glbFinished = false;
    std::optional<int> pointCount;
    bool pointCloudWritten = false;
    int skipped = 0;

  private:
    void report(std::optional<std::string> note = std::nullopt) {
        double sum = 0;
        for (const auto& request : requests_) {
            for (const auto& [seen, fraction] : fractions_) {
                if (seen == request) {
                    sum += fraction;
                    break;
                }
            }
        }
        const double fraction =
            requests_.empty() ? 0
                              : std::clamp(sum / static_cast<double>(requests_.size()), 0.0, 1.0);
        if (progress_) progress_({fraction, stage_, secondsRemaining_, std::move(note)});
    }

    void record(const PhotogrammetryRequest& request, double fraction) {
        for (auto& [seen, value] : fractions_) {
            if (seen == request) {
                value = fraction;
                return;
            }
        }
        fractions_.emplace_back(request, fraction);
    }

    static bool isGlb(const PhotogrammetryRequest& request) {
        return request.kind == PhotogrammetryRequest::Kind::modelFile &&
               request.url.extension() == ".glb";
    }
    bool isMain(const PhotogrammetryRequest& request) const {
        return request.kind == PhotogrammetryRequest::Kind::modelFile && request.url == mainModel_;
    }

    Step on(const events::RequestProgress& e, const fs::path&) {
        record(e.request, e.fraction);
        report();
        return Step::next;
    }
    Step on(const events::RequestProgressInfo& e, const fs::path&) {
        if (e.info.processingStage) stage_ = stageTitle(*e.info.processingStage);
        secondsRemaining_ = e.info.estimatedRemainingTime;
        report();
        return Step::next;
    }
    Step on(const events::InputComplete&, const fs::path&) {
        stage_ = "Reading photos";
        report();
        return Step::next;
    }
    Step on(const events::InvalidSample& e, const fs::path&) {
        ++skipped;
        log::info("photo %ld skipped: %s", static_cast<long>(e.id + 1), e.reason.c_str());
        report("Photo " + std::to_string(e.id + 1) + " could not be used and was skipped.");
        return Step::next;
    }
    Step on(const events::SkippedSample&, const fs::path&) {
        ++skipped;
        return Step::next;
    }
    Step on(const events::AutomaticDownsampling&, const fs::path&) {
        report("Photos were downscaled to fit this computer's memory.");
        return Step::next;
    }
    Step on(const events::StitchingIncomplete&, const fs::path&) {
        report("Some photos could not be joined. Shoot more overlap next time.");
        return Step::next;
    }
    Step on(const events::RequestComplete& e, const fs::path& staging) {
        record(e.request, 1);
        std::optional<std::string> note;
        if (const auto* model = std::get_if<ModelFileResult>(&e.result)) {
            if (model->url == mainModel_) mainFinished = true;
            if (isGlb(e.request)) glbFinished = isRegularFile(model->url);
        } else if (const auto* cloud = std::get_if<PointCloudResult>(&e.result)) {
            pointCount = static_cast<int>(cloud->points.size());
            const Bytes ply = PointCloudWriter::encode(cloud->points);
            if (auto written = common::writeFileAtomically(staging / "pointcloud.ply", ply)) {
                pointCloudWritten = true;
            } else {
                note = "Point cloud could not be saved: " + written.error().description();
            }
        }
        report(std::move(note));
        return Step::next;
    }
    Step on(const events::RequestError& e, const fs::path&) {
        record(e.request, 1);
        if (isMain(e.request)) {
            if (!mainError) mainError = mapError(e.error);
            return Step::next;
        }
        log::error("extra export failed: %s", e.error.description.c_str());
        if (isGlb(e.request)) {
            report("The GLB copy for Android could not be made: " + e.error.description);
            return Step::next;
        }
        report("One of the extra exports could not be made.");
        return Step::next;
    }
    Step on(const events::ProcessingCancelled&, const fs::path&) { return Step::cancelled; }
    Step on(const events::ProcessingComplete&, const fs::path&) { return Step::complete; }

    const std::vector<PhotogrammetryRequest>& requests_;
    const fs::path mainModel_;
    const ProgressHandler& progress_;
    std::vector<std::pair<PhotogrammetryRequest, double>> fractions_;
    std::optional<std::string> stage_;
    std::optional<double> secondsRemaining_;
};

// Phones of these models choose for themselves whether they want an OBJ copy.
bool objOnlyWhenAsked(const std::optional<link::CaptureManifest>& manifest) {
    return manifest && (manifest->deviceModel.starts_with("iPhone") ||
                        manifest->deviceModel.starts_with("iPad"));
}

AttemptError fileFailure(const std::error_code& error) {
    return FileSystemFailure{error.message()};
}

}  // namespace

bool isSupported(const PhotogrammetryService& service) {
    return service.isSupported();
}

std::vector<fs::path> photoURLs(const fs::path& folder) {
    return PhotoFinder::photoURLs(folder);
}

EngineError mapError(const AttemptError& error) {
    if (const auto* engine = std::get_if<EngineError>(&error)) return *engine;
    if (const auto* service = std::get_if<PhotogrammetryError>(&error)) {
        log::error("reconstruction error: %s", service->description.c_str());
        switch (service->kind) {
            case PhotogrammetryError::Kind::invalidImages:
                return EngineError::failed(
                    "Studio could not read these photos. Use sharp HEIC, JPEG, PNG or TIFF "
                    "photos of one object.");
            case PhotogrammetryError::Kind::invalidOutput:
                return EngineError::failed(
                    "Studio could not write the model file. Quit Studio, open it again and press "
                    "Try Again.");
            case PhotogrammetryError::Kind::insufficientStorage:
                return EngineError::noSpace(
                    "This computer needs " +
                    common::Formatters::bytes(std::max<std::int64_t>(service->bytes, 0)).value() +
                    " more free disk space to build this model. Free up "
                    "some space and press Try Again.");
            case PhotogrammetryError::Kind::insufficientMemory:
                return EngineError::failed(
                    "This computer ran out of memory while building this model. Close other "
                    "applications or choose a lower detail level, and press Try Again.");
            case PhotogrammetryError::Kind::other:
                break;
        }
        return EngineError::failed(genericFailure);
    }
    log::error("reconstruction error: %s", std::get<FileSystemFailure>(error).description.c_str());
    return EngineError::failed(genericFailure);
}

namespace {

PhotogrammetryConfiguration configurationFor(const Inputs& inputs,
                                             const ProcessingOptions& options) {
    PhotogrammetryConfiguration configuration;
    configuration.checkpointDirectory = inputs.checkpoint;
    configuration.sampleOrdering =
        options.sequentialOrdering ? SampleOrdering::sequential : SampleOrdering::unordered;
    configuration.featureSensitivity =
        options.highFeatureSensitivity ? FeatureSensitivity::high : FeatureSensitivity::normal;
    configuration.isObjectMaskingEnabled = options.objectMasking;
    return configuration;
}

struct OpenedSession {
    std::unique_ptr<PhotogrammetrySession> session;
    bool usedMotionData = false;
};

// The session reads the folder itself unless the phone's gravity or the stricter object option
// asks for prepared samples, which only a few hundred photos can afford.
pelorin::Expected<OpenedSession, AttemptError> openSession(
    const std::shared_ptr<PhotogrammetryService>& service, const Inputs& inputs,
    const ProcessingOptions& options, const std::vector<fs::path>& photos,
    const std::shared_ptr<Counter>& masks, const ProgressHandler& progress) {
    using pelorin::unexpected;
    const PhotogrammetryConfiguration configuration = configurationFor(inputs, options);
    std::map<std::string, link::Vector3> gravityByFile;
    std::map<std::string, link::ImageRecord> recordsByFile;
    if (inputs.manifest) {
        for (const auto& image : inputs.manifest->images) {
            if (image.gravity) gravityByFile.emplace(image.fileName, *image.gravity);
            recordsByFile.emplace(image.fileName, image);
        }
    }
    const bool motion = options.useMotionData && !gravityByFile.empty();
    OpenedSession opened;
    if (motion || options.isolateSubject) {
        if (photos.size() <= maximumSamplePhotos) {
            CaptureSampleSequence samples(
                photos, motion ? gravityByFile : std::map<std::string, link::Vector3>{},
                options.isolateSubject, masks,
                inputs.manifest ? inputs.manifest->objectBounds : std::nullopt, recordsByFile,
                service);
            auto made = service->makeSession(samples.makeIterator(), configuration);
            if (!made) return unexpected(AttemptError(made.error()));
            opened.session = std::move(made.value());
            opened.usedMotionData = motion;
            if (options.isolateSubject && progress) {
                progress({0, "Finding the object in each photo", std::nullopt, std::nullopt});
            }
            return opened;
        }
        if (progress) {
            progress({0, std::nullopt, std::nullopt,
                      "Over 300 photos: the phone's motion data and the stricter object option "
                      "were not used, so Studio could read the photos straight from disk."});
        }
    }
    auto made = service->makeSession(inputs.images, configuration);
    if (!made) return unexpected(AttemptError(made.error()));
    opened.session = std::move(made.value());
    return opened;
}

// The main model, the OBJ folder and the GLB copy unless the phone leaves them out or this is
// the simple attempt, and the point cloud when asked, all into a fresh staging folder.
pelorin::Expected<std::vector<PhotogrammetryRequest>, AttemptError> stageRequests(
    const Inputs& inputs, const ProcessingOptions& options, bool simple, const fs::path& staging) {
    using pelorin::unexpected;
    const RequestDetail detail = requestDetail(options.detail);
    std::error_code error;
    removeIgnoringErrors(staging);
    fs::create_directories(staging, error);
    if (error) return unexpected(fileFailure(error));

    std::vector<PhotogrammetryRequest> requests = {
        PhotogrammetryRequest::modelFile(staging / "model.usdz", detail)};
    const bool wantObj = !simple && !(objOnlyWhenAsked(inputs.manifest) && !options.exportOBJ);
    if (wantObj) {
        fs::create_directories(staging / "OBJ", error);
        if (error) return unexpected(fileFailure(error));
        requests.push_back(PhotogrammetryRequest::modelFile(staging / "OBJ", detail));
    }
    if (options.exportPointCloud) requests.push_back(PhotogrammetryRequest::pointCloud());
    // The GLB copy for Android comes with the OBJ folder; last, so that the others keep their
    // places in the list.
    if (wantObj)
        requests.push_back(PhotogrammetryRequest::modelFile(staging / "model.glb", detail));
    return requests;
}

// Follows the session's events to their end; nothing when the main model was made.
std::optional<AttemptError> play(PhotogrammetrySession& session,
                                 const std::vector<PhotogrammetryRequest>& requests,
                                 const fs::path& staging, EventLoop& loop, std::stop_token stop) {
    // The only thing cancellation does is cancel the session; the stream then ends.
    std::stop_callback onCancel(stop, [&session] { session.cancel(); });

    if (auto refused = session.process(requests)) return AttemptError(*refused);
    EventLoop::Step end = EventLoop::Step::next;
    while (end == EventLoop::Step::next) {
        auto event = session.nextEvent();
        if (!event) return AttemptError(event.error());
        if (!event.value()) break;
        end = loop.handle(*event.value(), staging);
    }
    if (end == EventLoop::Step::cancelled) return AttemptError(EngineError::cancelled());
    if (end == EventLoop::Step::next) {
        if (stop.stop_requested()) return AttemptError(EngineError::cancelled());
        return AttemptError(EngineError::failed("Processing stopped unexpectedly."));
    }
    if (loop.mainError) return AttemptError(*loop.mainError);
    if (!loop.mainFinished) {
        return AttemptError(EngineError::failed("Processing finished but no model was produced."));
    }
    return std::nullopt;
}

// The OBJ folder stays only when it was asked for; a phone that did not ask still gets the GLB
// copy made with it.
bool keepObj(const fs::path& staging, const ProcessingOptions& options) {
    const fs::path stagedObj = staging / "OBJ";
    if (options.exportOBJ && isNonEmptyFolder(stagedObj)) return true;
    removeIgnoringErrors(stagedObj);
    return false;
}

}  // namespace

pelorin::Expected<EngineOutput, AttemptError> attempt(
    const std::shared_ptr<PhotogrammetryService>& service, const Inputs& inputs,
    const ProcessingOptions& options, bool simple, const ProgressHandler& progress,
    std::stop_token stop) {
    using pelorin::unexpected;
    if (!service->isSupported()) return unexpected(AttemptError(EngineError::notSupported()));

    const auto photos = photoURLs(inputs.images);
    if (photos.size() < static_cast<std::size_t>(minimumPhotos)) {
        return unexpected(AttemptError(
            EngineError::notEnoughImages(static_cast<int>(photos.size()), minimumPhotos)));
    }

    std::error_code error;
    fs::create_directories(inputs.output, error);
    if (!error) fs::create_directories(inputs.checkpoint, error);
    if (error) return unexpected(fileFailure(error));

    auto masks = std::make_shared<Counter>();
    auto opened = openSession(service, inputs, options, photos, masks, progress);
    if (!opened) return unexpected(opened.error());

    const fs::path staging = stagingFolder(inputs.output);
    auto requests = stageRequests(inputs, options, simple, staging);
    if (!requests) return unexpected(requests.error());

    EventLoop loop(requests.value(), staging / "model.usdz", progress);
    if (auto failed = play(*opened->session, requests.value(), staging, loop, stop))
        return unexpected(std::move(*failed));

    const bool keptObj = keepObj(staging, options);
    if (auto failure = publish(staging, inputs.output)) {
        return unexpected(AttemptError(
            EngineError::failed("The finished model could not be saved: " + *failure)));
    }

    EngineOutput output;
    output.usdz = inputs.output / "model.usdz";
    if (loop.glbFinished) output.glb = inputs.output / "model.glb";
    if (keptObj) output.objFolder = inputs.output / "OBJ";
    if (loop.pointCloudWritten) output.pointCloud = inputs.output / "pointcloud.ply";
    output.pointCount = loop.pointCount;
    output.skippedImages = loop.skipped;
    output.usedMotionData = opened->usedMotionData;
    output.maskedImages = masks->count();
    return output;
}

namespace {

pelorin::Expected<EngineOutput, EngineError> runLadder(
    const std::shared_ptr<PhotogrammetryService>& service, const Inputs& inputs,
    const ProgressHandler& progress, std::stop_token stop);

}  // namespace

pelorin::Expected<EngineOutput, EngineError> run(
    const std::shared_ptr<PhotogrammetryService>& service, const Inputs& inputs,
    const ProgressHandler& progress, std::stop_token stop) {
    // Runs on a worker thread: whatever a step throws becomes the job's failure, never a crash.
    try {
        return runLadder(service, inputs, progress, std::move(stop));
    } catch (const std::exception& error) {
        log::error("reconstruction error: %s", error.what());
    } catch (...) {
        log::error("reconstruction error: %s", "unknown exception");
    }
    return pelorin::unexpected(EngineError::failed(genericFailure));
}

namespace {

pelorin::Expected<EngineOutput, EngineError> runLadder(
    const std::shared_ptr<PhotogrammetryService>& service, const Inputs& inputs,
    const ProgressHandler& progress, std::stop_token stop) {
    using pelorin::unexpected;
    auto normalised = [](const AttemptError& error) { return mapError(error); };
    auto retrying = [&](const char* note) {
        if (progress) progress({0, "Retrying", std::nullopt, std::string(note)});
        removeIgnoringErrors(inputs.checkpoint);
    };

    ProcessingOptions options = inputs.options;
    if (options.isolateSubject) {
        auto first = attempt(service, inputs, options, false, progress, stop);
        if (first) return std::move(first.value());
        const EngineError error = normalised(first.error());
        if (error.kind != EngineError::Kind::failed) return unexpected(error);
        if (stop.stop_requested()) return unexpected(EngineError::cancelled());
        retrying("Building only the centre object failed, so Studio tried again without it.");
        log::error("isolate-subject attempt failed: %s", error.description().c_str());
        options.isolateSubject = false;
    }

    auto second = attempt(service, inputs, options, false, progress, stop);
    if (second) return std::move(second.value());
    const EngineError error = normalised(second.error());
    if (error.kind != EngineError::Kind::failed) return unexpected(error);
    if (stop.stop_requested()) return unexpected(EngineError::cancelled());
    retrying(
        "The first try did not work, so Studio tried again with simpler settings: the background "
        "is kept and only USDZ is exported.");

    ProcessingOptions simple;
    simple.detail = options.detail;
    simple.sequentialOrdering = options.sequentialOrdering;
    simple.highFeatureSensitivity = options.highFeatureSensitivity;
    simple.useMotionData = options.useMotionData;
    simple.objectMasking = false;
    simple.exportOBJ = false;
    simple.exportPointCloud = false;
    simple.isolateSubject = false;
    auto third = attempt(service, inputs, simple, true, progress, stop);
    if (third) return std::move(third.value());
    return unexpected(normalised(third.error()));
}

}  // namespace

}  // namespace PhotogrammetryEngine

}  // namespace pelorin::engine
