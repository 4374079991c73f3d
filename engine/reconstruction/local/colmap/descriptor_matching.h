#pragma once

#include <utility>
#include <vector>

#include <opencv2/core.hpp>

namespace pelorin::engine::local {

struct DescriptorMatchOptions {
    // A match counts when the angle to its nearest descriptor is below this share of the angle
    // to the second nearest, both ways: a feature of a repeated texture has no clear partner.
    double maxRatio = 0.8;
    // Radians between two descriptors beyond which they are not one feature seen twice.
    double maxAngle = 0.7;
};

// The features of two photos that are each other's nearest by the exact angle between their
// descriptors (rows of 128 bytes, CV_8U) and pass `options` both ways, as (row in `a`, row in
// `b`) in the order of `a`'s rows. Every pair is compared: one matrix product of the two photos
// does it faster than searching trees built for each pair.
std::vector<std::pair<int, int>> mutualMatches(const cv::Mat& a, const cv::Mat& b,
                                               const DescriptorMatchOptions& options = {});

}  // namespace pelorin::engine::local
