#pragma once

#include <cstdint>
#include <vector>

#include "evaluation/truth_cameras.h"
#include "link/records/capture_records.h"

namespace pelorin::samples {

// How far a phone's own measurements stray from the truth.
struct CaptureNoise {
    // Standard deviation of the camera position's error, per axis, in metres.
    double positionMetres = 0.01 / 1.7320508;
    // Standard deviation of the camera orientation's error, in degrees.
    double orientationDegrees = 0.5;
    // Standard deviation of the gravity direction's error, in degrees.
    double gravityDegrees = 0.5;
    // Seed of the noise, so that the set is the same at every run.
    std::uint32_t seed = 20261206;
};

// The capture.json a phone would have sent with these photos: name "Statue", the phone's
// noisy poses and gravity, the exact intrinsics and each photo's size in bytes (one entry of
// `bytes` per view, in order).
link::CaptureManifest makeSampleManifest(const evaluation::TruthCameras& truth,
                                         const std::vector<std::int64_t>& bytes,
                                         const CaptureNoise& noise = {});

// The same cameras for photos `factor` times the size; the intrinsics scale exactly because
// their origin is the image's corner.
evaluation::TruthCameras scaledCameras(const evaluation::TruthCameras& truth, double factor);

// `count` views from the `first`, in order.
evaluation::TruthCameras viewRange(const evaluation::TruthCameras& truth, std::size_t first,
                                   std::size_t count);

// When the photos of the set were taken: one every 2.5 seconds from a fixed morning.
Date capturedAt(std::size_t index);

}  // namespace pelorin::samples
