#pragma once

#include <opencv2/core.hpp>

namespace pelorin::engine::local {

// Each pixel's mean and standard deviation over the square window centred on it (the image
// mirrored at its edges, without repeating the edge pixel).
struct WindowStats {
    cv::Mat mean;       // CV_32F
    cv::Mat deviation;  // CV_32F
};

WindowStats windowStats(const cv::Mat& image, int window);

// 1 - the normalised cross-correlation of `reference` (whose window statistics are `stats`)
// with `warped`, another photo resampled onto it, per pixel: 0 for a perfect match, up to 2,
// and 2 where the window holds a pixel the warp marked outside the other photo (below 0).
// Run for every depth hypothesis and neighbour, so it is one pass over the images rather than
// a chain of whole-image operations.
void matchCost(const cv::Mat& reference, const WindowStats& stats, const cv::Mat& warped,
               int window, cv::Mat& cost);

}  // namespace pelorin::engine::local
