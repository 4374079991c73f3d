#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/expected.h"
#include "link/records/capture_records.h"

namespace pelorin::evaluation {

// One photo's exact camera, as in a truth folder's cameras.json.
struct TruthView {
    std::string name;
    // 4x4 camera-to-world, column by column; the camera looks along -Z with +Y up.
    std::array<double, 16> cameraTransform{};
    // 3x3, column by column, pixels; the image's top-left corner is (0, 0).
    std::array<double, 9> intrinsics{};
    // Unit gravity in the camera's frame.
    std::array<double, 3> gravity{};
};

// The cameras of a truth folder: what every rendered or surveyed set is evaluated by.
struct TruthCameras {
    std::vector<TruthView> views;
    int width = 0;
    int height = 0;
    std::optional<link::ObjectBounds> objectBounds;

    const TruthView* find(std::string_view name) const;
};

// Reads cameras.json; fails with a one-line reason.
pelorin::Expected<TruthCameras, std::string> loadTruthCameras(const std::filesystem::path& file);

// Writes cameras.json atomically; fails with a one-line reason.
pelorin::Expected<std::monostate, std::string> saveTruthCameras(const TruthCameras& cameras,
                                                                const std::filesystem::path& file);

}  // namespace pelorin::evaluation
