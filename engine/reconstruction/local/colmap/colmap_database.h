#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "common/expected.h"
#include "engine/geometry/vector_math.h"

namespace pelorin::engine::local {

// Starts the cameras of the named photos at these focal lengths in pixels, marked as known
// (the phone's calibration, or the lens from a photo's Exif). Returns how many were set.
pelorin::Expected<int, std::string> setFocalLengths(const std::filesystem::path& database,
                                                    const std::map<std::string, double>& focals);

// One photo's strongest features from a COLMAP database: its largest-scale keypoints, largest
// first, with their descriptors (one row of 128 bytes each).
struct PhotoFeatures {
    std::string name;
    std::vector<cv::Point2f> points;
    cv::Mat descriptors;  // CV_8U, one row per point
};

// Every photo of the database in name order, with at most `count` features each. Fails with a
// one-line reason when the database cannot be read or a feature record is malformed.
pelorin::Expected<std::vector<PhotoFeatures>, std::string> readLargestFeatures(
    const std::filesystem::path& database, int count);

}  // namespace pelorin::engine::local
