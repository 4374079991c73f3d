#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/expected.h"
#include "engine/formats/point_cloud.h"

// The photogrammetry service as the engine sees it: a support test, a configuration, sessions
// made from a folder or from a lazy sequence of samples, requests, an event stream and
// cancellation. Backends (the real reconstruction, the replay used by tests) implement it.
namespace pelorin::engine {

enum class SampleOrdering { unordered, sequential };
enum class FeatureSensitivity { normal, high };

struct PhotogrammetryConfiguration {
    std::filesystem::path checkpointDirectory;
    SampleOrdering sampleOrdering = SampleOrdering::sequential;
    FeatureSensitivity featureSensitivity = FeatureSensitivity::normal;
    bool isObjectMaskingEnabled = true;

    bool operator==(const PhotogrammetryConfiguration&) const = default;
};

enum class RequestDetail { preview, reduced, medium, full };

struct PhotogrammetryRequest {
    enum class Kind { modelFile, pointCloud };

    Kind kind = Kind::modelFile;
    // modelFile only: a ".usdz" file, or a folder that receives an OBJ with its MTL and textures.
    std::filesystem::path url;
    RequestDetail detail = RequestDetail::medium;

    static PhotogrammetryRequest modelFile(std::filesystem::path url, RequestDetail detail) {
        return {Kind::modelFile, std::move(url), detail};
    }
    static PhotogrammetryRequest pointCloud() {
        return {Kind::pointCloud, {}, RequestDetail::medium};
    }

    bool operator==(const PhotogrammetryRequest&) const = default;
};

enum class ProcessingStage {
    preProcessing,
    imageAlignment,
    pointCloudGeneration,
    meshGeneration,
    textureMapping,
    optimization
};

struct ProgressInfo {
    std::optional<ProcessingStage> processingStage;
    std::optional<double> estimatedRemainingTime;
};

struct ModelFileResult {
    std::filesystem::path url;
};
struct PointCloudResult {
    std::vector<PointCloudPoint> points;
};
using RequestResult = std::variant<ModelFileResult, PointCloudResult>;

struct [[nodiscard]] PhotogrammetryError {
    // insufficientMemory is ours: the local backend ran out of memory.
    enum class Kind {
        invalidImages,
        invalidOutput,
        insufficientStorage,
        insufficientMemory,
        other
    };

    Kind kind = Kind::other;
    // insufficientStorage only: how many more bytes the service needs.
    std::int64_t bytes = 0;
    // The service's own description of the failure.
    std::string description;

    static PhotogrammetryError other(std::string description) {
        return {Kind::other, 0, std::move(description)};
    }
};

namespace events {
struct RequestProgress {
    PhotogrammetryRequest request;
    double fraction = 0;
};
struct RequestProgressInfo {
    PhotogrammetryRequest request;
    ProgressInfo info;
};
struct InputComplete {};
struct InvalidSample {
    std::int64_t id = 0;
    std::string reason;
};
struct SkippedSample {
    std::int64_t id = 0;
};
struct AutomaticDownsampling {};
struct StitchingIncomplete {};
struct RequestComplete {
    PhotogrammetryRequest request;
    RequestResult result;
};
struct [[nodiscard]] RequestError {
    PhotogrammetryRequest request;
    PhotogrammetryError error;
};
struct ProcessingCancelled {};
struct ProcessingComplete {};
}  // namespace events

using PhotogrammetryEvent =
    std::variant<events::RequestProgress, events::RequestProgressInfo, events::InputComplete,
                 events::InvalidSample, events::SkippedSample, events::AutomaticDownsampling,
                 events::StitchingIncomplete, events::RequestComplete, events::RequestError,
                 events::ProcessingCancelled, events::ProcessingComplete>;

// A decoded image: rows of `bytesPerRow` bytes, `channels` 8-bit channels per pixel (1 for
// masks and depth-free grey, 3 for BGR colour).
struct PixelBuffer {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::size_t bytesPerRow = 0;
    std::vector<std::uint8_t> data;
};

// One prepared photo handed to the service instead of the photo file itself.
struct PhotogrammetrySample {
    std::int64_t id = 0;
    PixelBuffer image;
    // The photo file the image came from, when there is one; lets a backend keep its metadata.
    std::optional<std::filesystem::path> sourceFile;
    std::optional<PixelBuffer> depthDataMap;
    std::map<std::string, std::string> metadata;
    std::optional<std::array<double, 3>> gravity;
    // One byte per pixel, same size as the image; 0 is background.
    std::optional<PixelBuffer> objectMask;
    // Ours: the image's size over the photo file's, below 1 when the file was decoded smaller
    // than it is stored, so that sizes given in the file's pixels still apply.
    double decodedScale = 1;
};

// Pulled one sample at a time, in order, possibly from a thread of the service's; nothing at
// the end. One consumer at a time.
using SampleSource = std::function<std::optional<PhotogrammetrySample>()>;

class PhotogrammetrySession {
  public:
    virtual ~PhotogrammetrySession() = default;

    // Starts the work. Fails when the service refuses the requests.
    [[nodiscard]] virtual std::optional<PhotogrammetryError> process(
        const std::vector<PhotogrammetryRequest>& requests) = 0;

    // Blocks for the next event; nothing once the stream has ended (after completion or
    // cancellation). Pulling may fail.
    virtual pelorin::Expected<std::optional<PhotogrammetryEvent>, PhotogrammetryError>
    nextEvent() = 0;

    // Safe from any thread; the stream then ends with ProcessingCancelled.
    virtual void cancel() = 0;
};

class PhotogrammetryService {
  public:
    virtual ~PhotogrammetryService() = default;

    // True when reconstruction can run on this computer.
    virtual bool isSupported() const = 0;

    // A session that reads the photos of a folder itself.
    virtual pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError>
    makeSession(const std::filesystem::path& folder,
                const PhotogrammetryConfiguration& configuration) = 0;

    // A session that pulls prepared samples.
    virtual pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError>
    makeSession(SampleSource samples, const PhotogrammetryConfiguration& configuration) = 0;

    // Loads a photo file as a sample (image, depth map and metadata); fails on unreadable files.
    virtual pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> loadSample(
        const std::filesystem::path& photo) = 0;
};

}  // namespace pelorin::engine
