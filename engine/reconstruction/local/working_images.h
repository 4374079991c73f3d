#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "common/expected.h"
#include "engine/reconstruction/photogrammetry_service.h"
#include "link/records/capture_records.h"

namespace pelorin::engine::local {

// One photo as the reconstruction uses it: decoded, masked, scaled and written as a JPEG into
// the working folder.
struct WorkingImage {
    std::int64_t id = 0;  // the sample's id
    std::string name;     // file name in the images folder
    std::string source;   // the photo's own file name, when known
    int width = 0;        // of the working image
    int height = 0;
    double scale = 1;                              // working size over original size
    std::optional<std::array<double, 3>> gravity;  // in the photo's camera frame
    std::optional<double> focalPixels;             // at the working size, when known
    bool masked = false;                           // a mask image sits beside it
};

struct PreparedImages {
    std::vector<WorkingImage> images;
    // The capture's description, when the photos came with one.
    std::optional<link::CaptureManifest> manifest;
    bool downsampled = false;  // smaller than the detail asked for, to fit in memory
};

struct PrepareOptions {
    // Longest side of a working image; photos are never enlarged.
    int longSide = 2000;
    // Masks from the samples are applied (masked-out pixels darkened, the mask kept for
    // feature extraction) only when on.
    bool useMasks = true;
    // Millimetres across a 36 x 24 mm frame's diagonal, which an Exif 35 mm focal length is
    // relative to.
    double fullFrameDiagonal = 43.27;
    // Exif 35 mm focal lengths outside these are damage, not lenses, and are not used.
    int leastFocal35mm = 8;
    int mostFocal35mm = 1200;
};

struct PrepareEvents {
    std::function<void(std::int64_t id, const std::string& reason)> invalid;
    std::function<void(std::size_t done)> progress;
};

// Pulls every sample and writes `images/<name>` (and `masks/<name>.png`) under `folder`.
// Fails only when nothing can be written; unreadable samples are reported and left out.
pelorin::Expected<PreparedImages, PhotogrammetryError> prepareImages(
    const SampleSource& samples, const std::filesystem::path& folder, const PrepareOptions& options,
    const PrepareEvents& events, std::stop_token stop);

// Encodes an image as its file's extension names and writes it atomically.
bool writeImage(const std::filesystem::path& file, const cv::Mat& image,
                const std::vector<int>& parameters);

// Saved between runs so that a resumed run skips the step.
pelorin::Expected<std::monostate, std::string> savePrepared(const PreparedImages& prepared,
                                                            const std::filesystem::path& file);
std::optional<PreparedImages> loadPrepared(const std::filesystem::path& file);

}  // namespace pelorin::engine::local
