#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine {

// A scripted event stream for tests and demos. Each step waits `after` seconds (scaled by
// `timeScale`) and then sends one event. Steps name requests by their index in the list given to
// `process`; request -1 repeats the step for every request.
struct ReplayScript {
    struct Step {
        enum class Kind {
            requestProgress,
            requestProgressInfo,
            inputComplete,
            invalidSample,
            skippedSample,
            automaticDownsampling,
            stitchingIncomplete,
            requestComplete,
            requestError,
            processingCancelled,
            processingComplete
        };

        Kind kind = Kind::processingComplete;
        double after = 0;
        int request = -1;
        double fraction = 0;
        std::optional<ProcessingStage> stage;
        std::optional<double> secondsRemaining;
        std::int64_t sampleId = 0;
        std::string reason;
        PhotogrammetryError error;
        // requestComplete of a point cloud: how many points to return.
        std::size_t points = 500;
    };

    bool supported = true;
    double timeScale = 1;
    std::optional<PhotogrammetryError> failMakeSession;
    std::optional<PhotogrammetryError> failProcess;
    // The 0-based pull of the event stream that fails with `pullError`.
    std::optional<std::size_t> failPullAt;
    PhotogrammetryError pullError = PhotogrammetryError::other("The event stream failed.");
    std::vector<Step> steps;

    // A successful run through every stage that completes every request, about `seconds` long.
    static ReplayScript successfulRun(double seconds = 3);

    // Reads a script from its JSON form (see docs/replay-scripts.md).
    static pelorin::Expected<ReplayScript, std::string> fromJson(std::string_view text);
};

// What the replay backend was asked to do, for tests to inspect.
struct ReplayRecord {
    std::mutex lock;
    std::vector<PhotogrammetryConfiguration> configurations;
    std::vector<std::filesystem::path> folders;
    std::vector<std::vector<PhotogrammetryRequest>> requests;
    std::vector<std::int64_t> sampleIds;
    std::vector<std::optional<std::array<double, 3>>> sampleGravity;
    std::vector<bool> sampleMasked;
    std::size_t cancels = 0;
};

class ReplayBackend : public PhotogrammetryService {
  public:
    explicit ReplayBackend(ReplayScript script = ReplayScript::successfulRun());

    // Later sessions play the new script; sessions already made keep theirs.
    void setScript(ReplayScript script);
    std::shared_ptr<ReplayRecord> record() const { return record_; }

    bool isSupported() const override;
    pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError> makeSession(
        const std::filesystem::path& folder,
        const PhotogrammetryConfiguration& configuration) override;
    pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError> makeSession(
        SampleSource samples, const PhotogrammetryConfiguration& configuration) override;
    pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> loadSample(
        const std::filesystem::path& photo) override;

  private:
    ReplayScript currentScript() const;

    mutable std::mutex lock_;
    ReplayScript script_;
    std::shared_ptr<ReplayRecord> record_ = std::make_shared<ReplayRecord>();
};

}  // namespace pelorin::engine
