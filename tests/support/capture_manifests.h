#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/uuid.h"
#include "link/records/capture_records.h"

namespace pelorin::testing {

// What a test capture holds besides its photos; every field has the value most tests want.
struct TestCapture {
    std::string name = "Teapot";
    std::string deviceModel = "Pixel 8";
    // Photos are named IMG_<first + i><extension>.
    int first = 0;
    std::string extension = ".jpg";
    // Each photo's size as the phone announces it, and its gravity; none when not given.
    std::optional<std::int64_t> bytes;
    std::optional<link::Vector3> gravity;
};

// A phone capture of `photos` photos with a fresh id.
inline link::CaptureManifest captureManifest(int photos, const TestCapture& capture = {}) {
    link::CaptureManifest manifest;
    manifest.id = Uuid::random();
    manifest.name = capture.name;
    manifest.deviceModel = capture.deviceModel;
    for (int i = 0; i < photos; ++i) {
        link::ImageRecord image{.fileName =
                                    "IMG_" + std::to_string(capture.first + i) + capture.extension};
        image.bytes = capture.bytes;
        image.gravity = capture.gravity;
        manifest.images.push_back(image);
    }
    return manifest;
}

}  // namespace pelorin::testing
