#include "engine/reconstruction/replay/replay_backend.h"

#include <chrono>
#include <condition_variable>
#include <fstream>

#include <nlohmann/json.hpp>

#include "engine/reconstruction/photo_sample.h"
#include "engine/reconstruction/replay/replay_model.h"

namespace pelorin::engine {

namespace {

using Step = ReplayScript::Step;
using Kind = Step::Kind;

class ReplaySession : public PhotogrammetrySession {
  public:
    ReplaySession(ReplayScript script, std::shared_ptr<ReplayRecord> record, SampleSource samples)
        : script_(std::move(script)), record_(std::move(record)), samples_(std::move(samples)) {}

    std::optional<PhotogrammetryError> process(
        const std::vector<PhotogrammetryRequest>& requests) override {
        {
            std::lock_guard guard(record_->lock);
            record_->requests.push_back(requests);
        }
        if (script_.failProcess) return script_.failProcess;
        std::lock_guard guard(lock_);
        requests_ = requests;
        expandSteps();
        started_ = true;
        return std::nullopt;
    }

    pelorin::Expected<std::optional<PhotogrammetryEvent>, PhotogrammetryError> nextEvent()
        override {
        const std::size_t pull = pulls_++;
        if (script_.failPullAt && *script_.failPullAt == pull) {
            return pelorin::unexpected(script_.pullError);
        }
        if (samples_ && pull == 0) drainSamples();

        std::unique_lock guard(lock_);
        if (!started_ || ended_) return std::optional<PhotogrammetryEvent>();
        if (next_ < pending_.size()) {
            const auto delay =
                std::chrono::duration<double>(pending_[next_].after * script_.timeScale);
            wake_.wait_for(guard, delay, [this] { return cancelled_; });
        }
        if (cancelled_) {
            ended_ = true;
            return std::optional<PhotogrammetryEvent>(events::ProcessingCancelled{});
        }
        if (next_ >= pending_.size()) {
            ended_ = true;
            return std::optional<PhotogrammetryEvent>();
        }
        const Step step = pending_[next_++];
        guard.unlock();
        PhotogrammetryEvent event = makeEvent(step);
        if (std::holds_alternative<events::ProcessingComplete>(event) ||
            std::holds_alternative<events::ProcessingCancelled>(event)) {
            std::lock_guard again(lock_);
            ended_ = true;
        }
        return std::optional<PhotogrammetryEvent>(std::move(event));
    }

    void cancel() override {
        {
            std::lock_guard guard(record_->lock);
            ++record_->cancels;
        }
        std::lock_guard guard(lock_);
        cancelled_ = true;
        wake_.notify_all();
    }

  private:
    void expandSteps() {
        for (const Step& step : script_.steps) {
            if (step.request >= 0) {
                if (static_cast<std::size_t>(step.request) < requests_.size())
                    pending_.push_back(step);
                continue;
            }
            const bool perRequest =
                step.kind == Kind::requestProgress || step.kind == Kind::requestProgressInfo ||
                step.kind == Kind::requestComplete || step.kind == Kind::requestError;
            if (!perRequest) {
                pending_.push_back(step);
                continue;
            }
            for (std::size_t i = 0; i < requests_.size(); ++i) {
                Step copy = step;
                copy.request = static_cast<int>(i);
                if (i > 0) copy.after = 0;
                pending_.push_back(copy);
            }
        }
    }

    // Pulls every sample the way a service would before it starts aligning.
    void drainSamples() {
        while (true) {
            {
                std::lock_guard guard(lock_);
                if (cancelled_) return;
            }
            auto sample = samples_();
            if (!sample) return;
            std::lock_guard guard(record_->lock);
            record_->sampleIds.push_back(sample->id);
            record_->sampleGravity.push_back(sample->gravity);
            record_->sampleMasked.push_back(sample->objectMask.has_value());
        }
    }

    PhotogrammetryEvent makeEvent(const Step& step) {
        const PhotogrammetryRequest request =
            step.request >= 0 ? requests_[static_cast<std::size_t>(step.request)]
                              : PhotogrammetryRequest{};
        switch (step.kind) {
            case Kind::requestProgress:
                return events::RequestProgress{request, step.fraction};
            case Kind::requestProgressInfo:
                return events::RequestProgressInfo{request, {step.stage, step.secondsRemaining}};
            case Kind::inputComplete:
                return events::InputComplete{};
            case Kind::invalidSample:
                return events::InvalidSample{step.sampleId, step.reason};
            case Kind::skippedSample:
                return events::SkippedSample{step.sampleId};
            case Kind::automaticDownsampling:
                return events::AutomaticDownsampling{};
            case Kind::stitchingIncomplete:
                return events::StitchingIncomplete{};
            case Kind::requestComplete:
                return complete(request, step);
            case Kind::requestError:
                return events::RequestError{request, step.error};
            case Kind::processingCancelled:
                return events::ProcessingCancelled{};
            case Kind::processingComplete:
                return events::ProcessingComplete{};
        }
        return events::ProcessingComplete{};
    }

    PhotogrammetryEvent complete(const PhotogrammetryRequest& request, const Step& step) {
        if (request.kind == PhotogrammetryRequest::Kind::pointCloud) {
            return events::RequestComplete{request,
                                           PointCloudResult{replayPointCloud(step.points)}};
        }
        // A model the service could not write is an error event, as a real service would send.
        if (auto failure = writeReplayModel(request.url)) {
            return events::RequestError{request, *failure};
        }
        return events::RequestComplete{request, ModelFileResult{request.url}};
    }

    ReplayScript script_;
    std::shared_ptr<ReplayRecord> record_;
    SampleSource samples_;
    std::atomic<std::size_t> pulls_{0};

    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<PhotogrammetryRequest> requests_;
    std::vector<Step> pending_;
    std::size_t next_ = 0;
    bool started_ = false;
    bool cancelled_ = false;
    bool ended_ = false;
};

}  // namespace

ReplayBackend::ReplayBackend(ReplayScript script) : script_(std::move(script)) {}

void ReplayBackend::setScript(ReplayScript script) {
    std::lock_guard guard(lock_);
    script_ = std::move(script);
}

ReplayScript ReplayBackend::currentScript() const {
    std::lock_guard guard(lock_);
    return script_;
}

bool ReplayBackend::isSupported() const {
    return currentScript().supported;
}

pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError>
ReplayBackend::makeSession(const std::filesystem::path& folder,
                           const PhotogrammetryConfiguration& configuration) {
    auto script = currentScript();
    {
        std::lock_guard guard(record_->lock);
        record_->configurations.push_back(configuration);
        record_->folders.push_back(folder);
    }
    if (script.failMakeSession) return pelorin::unexpected(*script.failMakeSession);
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        return pelorin::unexpected(PhotogrammetryError{PhotogrammetryError::Kind::invalidImages, 0,
                                                       "The photo folder could not be read."});
    }
    return std::unique_ptr<PhotogrammetrySession>(
        std::make_unique<ReplaySession>(std::move(script), record_, nullptr));
}

pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError>
ReplayBackend::makeSession(SampleSource samples, const PhotogrammetryConfiguration& configuration) {
    auto script = currentScript();
    {
        std::lock_guard guard(record_->lock);
        record_->configurations.push_back(configuration);
    }
    if (script.failMakeSession) return pelorin::unexpected(*script.failMakeSession);
    return std::unique_ptr<PhotogrammetrySession>(
        std::make_unique<ReplaySession>(std::move(script), record_, std::move(samples)));
}

pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> ReplayBackend::loadSample(
    const std::filesystem::path& photo) {
    return loadPhotoSample(photo);
}

ReplayScript ReplayScript::successfulRun(double seconds) {
    ReplayScript script;
    const ProcessingStage stages[] = {
        ProcessingStage::preProcessing,        ProcessingStage::imageAlignment,
        ProcessingStage::pointCloudGeneration, ProcessingStage::meshGeneration,
        ProcessingStage::textureMapping,       ProcessingStage::optimization};
    const int ticksPerStage = 4;
    const int ticks = static_cast<int>(std::size(stages)) * ticksPerStage;
    const double tick = seconds / (ticks + 2);
    script.steps.push_back({.kind = Kind::inputComplete, .after = tick});
    int done = 0;
    for (ProcessingStage stage : stages) {
        script.steps.push_back({.kind = Kind::requestProgressInfo,
                                .stage = stage,
                                .secondsRemaining = seconds - done * tick});
        for (int i = 0; i < ticksPerStage; ++i) {
            ++done;
            script.steps.push_back(
                {.kind = Kind::requestProgress, .after = tick, .fraction = 0.99 * done / ticks});
        }
    }
    script.steps.push_back({.kind = Kind::requestComplete, .after = tick});
    script.steps.push_back({.kind = Kind::processingComplete});
    return script;
}

namespace {

using nlohmann::json;

std::optional<Kind> kindNamed(std::string_view name) {
    static const std::pair<std::string_view, Kind> names[] = {
        {"requestProgress", Kind::requestProgress},
        {"requestProgressInfo", Kind::requestProgressInfo},
        {"inputComplete", Kind::inputComplete},
        {"invalidSample", Kind::invalidSample},
        {"skippedSample", Kind::skippedSample},
        {"automaticDownsampling", Kind::automaticDownsampling},
        {"stitchingIncomplete", Kind::stitchingIncomplete},
        {"requestComplete", Kind::requestComplete},
        {"requestError", Kind::requestError},
        {"processingCancelled", Kind::processingCancelled},
        {"processingComplete", Kind::processingComplete}};
    for (const auto& [text, kind] : names) {
        if (text == name) return kind;
    }
    return std::nullopt;
}

std::optional<ProcessingStage> stageNamed(std::string_view name) {
    static const std::pair<std::string_view, ProcessingStage> names[] = {
        {"preProcessing", ProcessingStage::preProcessing},
        {"imageAlignment", ProcessingStage::imageAlignment},
        {"pointCloudGeneration", ProcessingStage::pointCloudGeneration},
        {"meshGeneration", ProcessingStage::meshGeneration},
        {"textureMapping", ProcessingStage::textureMapping},
        {"optimization", ProcessingStage::optimization}};
    for (const auto& [text, stage] : names) {
        if (text == name) return stage;
    }
    return std::nullopt;
}

PhotogrammetryError errorFrom(const json& value) {
    PhotogrammetryError error;
    const std::string kind = value.value("kind", "other");
    if (kind == "invalidImages") {
        error.kind = PhotogrammetryError::Kind::invalidImages;
    } else if (kind == "invalidOutput") {
        error.kind = PhotogrammetryError::Kind::invalidOutput;
    } else if (kind == "insufficientStorage") {
        error.kind = PhotogrammetryError::Kind::insufficientStorage;
    } else if (kind == "insufficientMemory") {
        error.kind = PhotogrammetryError::Kind::insufficientMemory;
    } else if (kind != "other") {
        throw std::runtime_error("unknown error kind \"" + kind + "\"");
    }
    error.bytes = value.value("bytes", std::int64_t{0});
    error.description = value.value("description", "The replayed service failed.");
    return error;
}

}  // namespace

pelorin::Expected<ReplayScript, std::string> ReplayScript::fromJson(std::string_view text) {
    try {
        const json root = json::parse(text.begin(), text.end());
        ReplayScript script = root.value("successfulRun", false)
                                  ? successfulRun(root.value("seconds", 3.0))
                                  : ReplayScript{};
        script.supported = root.value("supported", true);
        script.timeScale = root.value("timeScale", 1.0);
        if (root.contains("failMakeSession"))
            script.failMakeSession = errorFrom(root["failMakeSession"]);
        if (root.contains("failProcess")) script.failProcess = errorFrom(root["failProcess"]);
        if (root.contains("failPullAt")) {
            script.failPullAt = root["failPullAt"].get<std::size_t>();
            if (root.contains("pullError")) script.pullError = errorFrom(root["pullError"]);
        }
        for (const json& entry : root.value("events", json::array())) {
            const auto kind = kindNamed(entry.at("event").get<std::string>());
            if (!kind)
                throw std::runtime_error("unknown event \"" + entry.at("event").get<std::string>() +
                                         "\"");
            Step step{.kind = *kind};
            step.after = entry.value("after", 0.0);
            step.request = entry.value("request", -1);
            step.fraction = entry.value("fraction", 0.0);
            if (entry.contains("stage")) {
                step.stage = stageNamed(entry["stage"].get<std::string>());
                if (!step.stage) throw std::runtime_error("unknown stage");
            }
            if (entry.contains("secondsRemaining"))
                step.secondsRemaining = entry["secondsRemaining"].get<double>();
            step.sampleId = entry.value("id", std::int64_t{0});
            step.reason = entry.value("reason", "");
            if (entry.contains("error")) step.error = errorFrom(entry["error"]);
            step.points = entry.value("points", std::size_t{500});
            script.steps.push_back(std::move(step));
        }
        return script;
    } catch (const std::exception& failure) {
        return pelorin::unexpected(std::string("The replay script could not be read: ") +
                                   failure.what());
    }
}

}  // namespace pelorin::engine
