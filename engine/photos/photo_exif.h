#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/expected.h"

namespace pelorin::engine {

// What a camera records about a shot that reconstruction reads back: the lens, so that the
// focal length in pixels can be estimated before any matching.
struct ExifFields {
    std::string make;
    std::string model;
    std::string dateTimeOriginal;  // "YYYY:MM:DD HH:MM:SS"
    double focalLengthMillimetres = 0;
    // The 35 mm equivalent: the same field of view across a 36 x 24 mm frame's diagonal.
    std::uint16_t focalLength35mm = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // How the stored pixels must be turned to stand upright (1: as stored, 6: a quarter turn
    // clockwise, ...); decoders honour it.
    std::uint16_t orientation = 1;
};

// The fields above from a JPEG's or a HEIC/HEIF's Exif block; missing fields stay zero or
// empty. Nothing when the file has no readable Exif.
std::optional<ExifFields> readExif(const std::filesystem::path& photo);

// The same from bytes: a JPEG's first bytes, or "Exif\0\0" and the TIFF data after it.
std::optional<ExifFields> parseExif(std::span<const std::uint8_t> bytes);

// An APP1 "Exif" segment, marker included, little-endian TIFF inside.
std::vector<std::uint8_t> makeExifSegment(const ExifFields& fields);

// The JPEG with its APP0/APP1 segments replaced by `segment`, which goes right after the
// start-of-image marker as readers expect. Fails when the bytes are not a JPEG.
pelorin::Expected<std::vector<std::uint8_t>, std::string> withExif(
    std::span<const std::uint8_t> jpeg, std::span<const std::uint8_t> segment);

}  // namespace pelorin::engine
