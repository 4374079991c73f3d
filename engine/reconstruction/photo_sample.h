#pragma once

#include <filesystem>

#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine {

// Decodes a photo file into a sample (id 0, colour image, no depth map). Fails with
// invalidImages when the file cannot be read or decoded.
pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> loadPhotoSample(
    const std::filesystem::path& photo);

}  // namespace pelorin::engine
