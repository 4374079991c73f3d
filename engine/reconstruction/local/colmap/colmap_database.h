#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "common/expected.h"
#include "engine/geometry/vector_math.h"

namespace pelorin::engine::local {

// Starts the cameras of the named photos at these focal lengths in pixels, marked as known
// (the phone's calibration, or the lens from a photo's Exif). Returns how many were set.
pelorin::Expected<int, std::string> setFocalLengths(const std::filesystem::path& database,
                                                    const std::map<std::string, double>& focals);

// One photo's features from a COLMAP database, in the database's order (which its matches
// refer to), with their descriptors (one row of 128 bytes each).
struct PhotoFeatures {
    std::string name;
    std::int64_t imageId = 0;
    std::vector<cv::Point2f> points;
    std::vector<float> scales;
    std::vector<float> orientations;  // radians, clockwise from the x axis as the photo shows it
    cv::Mat descriptors;              // CV_8U, one row per point
};

// Every photo of the database in name order, with all its features. Fails with a one-line
// reason when the database cannot be read or a feature record is malformed.
pelorin::Expected<std::vector<PhotoFeatures>, std::string> readFeatures(
    const std::filesystem::path& database);

// Stores each photo's features under its name, replacing what the database held for it, all or
// none; every photo must be in the database already. Returns how many photos were written.
pelorin::Expected<int, std::string> writeFeatures(const std::filesystem::path& database,
                                                  const std::vector<PhotoFeatures>& photos);

// Where the photo's `count` largest-scale features sit in its own order, largest first: the
// ones most likely seen again from elsewhere.
std::vector<int> largestFeatureIndices(const PhotoFeatures& photo, int count);
// The descriptors of the photo's features at `rows`, in that order.
cv::Mat descriptorRows(const PhotoFeatures& photo, const std::vector<int>& rows);
// Those features themselves.
PhotoFeatures largestFeatures(const PhotoFeatures& photo, int count);

// The matched features of two photos, as (index in image1, index in image2).
struct PairMatches {
    std::int64_t image1 = 0;
    std::int64_t image2 = 0;
    std::vector<std::pair<int, int>> matches;
};

// Stores each pair's matches in the database, replacing what it held for the pair, all or none.
// COLMAP's matcher then only verifies their geometry. Returns how many pairs were written.
pelorin::Expected<int, std::string> writeMatches(const std::filesystem::path& database,
                                                 const std::vector<PairMatches>& pairs);

}  // namespace pelorin::engine::local
