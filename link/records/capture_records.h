#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/date.h"
#include "common/uuid.h"

namespace pelorin::link {

// Level of detail of the model.
enum class ProcessingDetail { preview, reduced, medium, full };
inline constexpr std::array<ProcessingDetail, 4> allProcessingDetails = {
    ProcessingDetail::preview, ProcessingDetail::reduced, ProcessingDetail::medium,
    ProcessingDetail::full};
std::string_view jsonValue(ProcessingDetail detail);
std::optional<ProcessingDetail> processingDetailFromJson(std::string_view value);
std::string_view title(ProcessingDetail detail);
std::string_view summary(ProcessingDetail detail);

// How the phone took the capture.
enum class CaptureMode { arGuided, classic };
inline constexpr std::array<CaptureMode, 2> allCaptureModes = {CaptureMode::arGuided,
                                                               CaptureMode::classic};
std::string_view jsonValue(CaptureMode mode);
std::optional<CaptureMode> captureModeFromJson(std::string_view value);
std::string_view title(CaptureMode mode);

// Where a job stands.
enum class JobPhase { receiving, ready, queued, processing, finished, failed, cancelled };
inline constexpr std::array<JobPhase, 7> allJobPhases = {
    JobPhase::receiving, JobPhase::ready,  JobPhase::queued,   JobPhase::processing,
    JobPhase::finished,  JobPhase::failed, JobPhase::cancelled};
std::string_view jsonValue(JobPhase phase);
std::optional<JobPhase> jobPhaseFromJson(std::string_view value);
std::string_view title(JobPhase phase);
// True while the job is on its way: receiving, queued or processing.
bool isActive(JobPhase phase);

// The user's choices for one reconstruction.
struct ProcessingOptions {
    ProcessingDetail detail = ProcessingDetail::medium;
    bool sequentialOrdering = true;
    bool highFeatureSensitivity = false;
    bool objectMasking = true;
    bool useMotionData = true;
    bool exportOBJ = true;
    bool exportPointCloud = true;
    bool isolateSubject = false;

    bool operator==(const ProcessingOptions&) const = default;
};

// What photos that came without a capture manifest are built with: no phone's motion data, and
// no order known.
inline ProcessingOptions folderImportOptions() {
    ProcessingOptions options;
    options.sequentialOrdering = false;
    options.useMotionData = false;
    return options;
}

struct Vector3 {
    double x = 0;
    double y = 0;
    double z = 0;

    bool operator==(const Vector3&) const = default;
};

// One photo of a capture.
struct ImageRecord {
    std::string fileName;
    Date capturedAt;
    std::optional<Vector3> gravity;
    bool hasDepth = false;
    std::optional<double> yawDegrees;
    std::optional<double> pitchDegrees;
    // 4x4 camera-to-world matrix, column by column.
    std::optional<std::vector<float>> cameraTransform;
    // 3x3 intrinsic matrix in pixels of the photo, column by column.
    std::optional<std::vector<float>> intrinsics;
    std::optional<std::int64_t> bytes;

    bool operator==(const ImageRecord&) const = default;
};

// The vertical cylinder in which the phone saw the object, in metres.
struct ObjectBounds {
    std::vector<float> centre;
    float radius = 0;
    float height = 0;

    bool operator==(const ObjectBounds&) const = default;
};

// One capture as the phone describes it.
struct CaptureManifest {
    static constexpr std::string_view fileName = "capture.json";
    static constexpr std::size_t maxImages = 2000;

    Uuid id;
    std::string name;
    Date createdAt;
    std::string deviceModel;
    std::string appVersion;
    std::vector<ImageRecord> images;
    ProcessingOptions options;
    std::optional<CaptureMode> captureMode;
    std::optional<ObjectBounds> objectBounds;

    bool operator==(const CaptureManifest&) const = default;

    // Nothing when the photo names are acceptable, otherwise the sentence for the phone.
    std::optional<std::string> validationMessage() const;

    // Names, in manifest order, of the photos not yet complete in the folder.
    std::vector<std::string> missingFiles(const std::filesystem::path& folder) const;
};

// The report about one capture's job that the desktop sends to the phone.
struct JobStatus {
    Uuid captureID;
    JobPhase phase = JobPhase::receiving;
    double fraction = 0;
    std::optional<std::string> stage;
    std::optional<double> secondsRemaining;
    std::optional<std::string> message;
    std::optional<std::int64_t> modelBytes;

    bool operator==(const JobStatus&) const = default;
};

}  // namespace pelorin::link
