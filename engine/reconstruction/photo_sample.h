#pragma once

#include <filesystem>
#include <istream>
#include <optional>
#include <utility>

#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine {

// Decodes a photo file into a sample (id 0, colour image, upright by its Exif, no depth map).
// Fails with invalidImages when the file cannot be read or decoded.
//
// With `leastLongSide`, a JPEG at least twice that on its long side is decoded at a half, a
// quarter or an eighth of its size by the decoder itself, never below `leastLongSide`: several
// times faster than decoding it whole to scale it down. `decodedScale` tells by how much.
pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> loadPhotoSample(
    const std::filesystem::path& photo, int leastLongSide = 0);

// The width and height a JPEG's frame header gives, as stored (before any Exif turn); nothing
// when the file is no JPEG or its header cannot be read.
std::optional<std::pair<int, int>> jpegFrameSize(const std::filesystem::path& photo);
// The same from a stream at the file's start; reads only up to the frame header.
std::optional<std::pair<int, int>> jpegFrameSize(std::istream& in);

}  // namespace pelorin::engine
