#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine {

// Writes the small textured model that the replay backend hands out: a ".usdz" or ".glb" file, or
// an OBJ with its MTL and texture when the location is a folder. An error when it cannot be
// written.
[[nodiscard]] std::optional<PhotogrammetryError> writeReplayModel(const std::filesystem::path& url);

// A coloured point cloud of `count` points on a unit sphere.
std::vector<PointCloudPoint> replayPointCloud(std::size_t count);

}  // namespace pelorin::engine
