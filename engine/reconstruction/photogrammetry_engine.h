#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

#include "common/expected.h"
#include "engine/reconstruction/photogrammetry_service.h"
#include "link/records/capture_records.h"

namespace pelorin::engine {

// One progress report of a run.
struct EngineProgress {
    double fraction = 0;
    std::optional<std::string> stage;
    std::optional<double> secondsRemaining;
    // A one-off remark for the user; reported once, not sticky.
    std::optional<std::string> note;

    bool operator==(const EngineProgress&) const = default;
};

// What a successful run made: paths of files inside the Output folder, that folder included.
struct EngineOutput {
    std::filesystem::path usdz;
    std::optional<std::filesystem::path> glb;
    std::optional<std::filesystem::path> objFolder;
    std::optional<std::filesystem::path> pointCloud;
    std::optional<int> pointCount;
    int skippedImages = 0;
    bool usedMotionData = false;
    int maskedImages = 0;

    bool operator==(const EngineOutput&) const = default;
};

// Why a run failed, with the sentence shown to the user.
struct [[nodiscard]] EngineError {
    enum class Kind { notEnoughImages, failed, noSpace, notSupported, cancelled };

    Kind kind = Kind::failed;
    int found = 0;
    int needed = 0;
    // failed and noSpace: the text itself.
    std::string text;

    static EngineError notEnoughImages(int found, int needed) {
        return {Kind::notEnoughImages, found, needed, {}};
    }
    static EngineError failed(std::string text) { return {Kind::failed, 0, 0, std::move(text)}; }
    static EngineError noSpace(std::string text) { return {Kind::noSpace, 0, 0, std::move(text)}; }
    static EngineError notSupported() { return {Kind::notSupported, 0, 0, {}}; }
    static EngineError cancelled() { return {Kind::cancelled, 0, 0, {}}; }

    std::string description() const;
    bool operator==(const EngineError&) const = default;
};

// A file-system failure inside an attempt, with the system's description.
struct FileSystemFailure {
    std::string description;
};

// Anything an attempt can fail with; the ladder normalises it.
using AttemptError = std::variant<EngineError, PhotogrammetryError, FileSystemFailure>;

// Turns one job's photos into model files through the photogrammetry service, retrying along a
// ladder of simpler settings. Runs off the main thread; progress is reported on the calling
// thread in event order.
namespace PhotogrammetryEngine {

using ProgressHandler = std::function<void(const EngineProgress&)>;

struct Inputs {
    std::filesystem::path images;
    std::optional<link::CaptureManifest> manifest;
    link::ProcessingOptions options;
    std::filesystem::path output;
    std::filesystem::path checkpoint;
};

inline constexpr int minimumPhotos = 10;
// Above this many photos the service reads the folder itself.
inline constexpr std::size_t maximumSamplePhotos = 300;

// The whole run with its fallback ladder. Cancelling the stop token cancels the service session
// and ends the run with `cancelled`.
pelorin::Expected<EngineOutput, EngineError> run(
    const std::shared_ptr<PhotogrammetryService>& service, const Inputs& inputs,
    const ProgressHandler& progress, std::stop_token stop = {});

// One reconstruction with the given options; `simple` asks for the USDZ model only.
pelorin::Expected<EngineOutput, AttemptError> attempt(
    const std::shared_ptr<PhotogrammetryService>& service, const Inputs& inputs,
    const link::ProcessingOptions& options, bool simple, const ProgressHandler& progress,
    std::stop_token stop = {});

bool isSupported(const PhotogrammetryService& service);

// The photos directly inside a folder, in natural name order.
std::vector<std::filesystem::path> photoURLs(const std::filesystem::path& folder);

// Any failure as the error the user is shown.
EngineError mapError(const AttemptError& error);

}  // namespace PhotogrammetryEngine

}  // namespace pelorin::engine
