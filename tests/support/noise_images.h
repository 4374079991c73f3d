#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace pelorin::testing {

// A grey photo of blurred noise, stretched over the whole grey range: blobs of every size, as a
// textured object gives, the same for the same seed.
inline cv::Mat blurredNoise(cv::Size size, int seed, double blur = 2.5) {
    cv::Mat noise(size, CV_32F);
    cv::RNG(seed).fill(noise, cv::RNG::NORMAL, 0, 1);
    cv::GaussianBlur(noise, noise, {0, 0}, blur);
    cv::normalize(noise, noise, 0, 255, cv::NORM_MINMAX);
    cv::Mat grey;
    noise.convertTo(grey, CV_8U);
    return grey;
}

}  // namespace pelorin::testing
