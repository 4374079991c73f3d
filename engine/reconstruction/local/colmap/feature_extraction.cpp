#include "engine/reconstruction/local/colmap/feature_extraction.h"

#include <algorithm>
#include <cmath>

#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

namespace pelorin::engine::local {

namespace {

// Below this, halving leaves too little for OpenCV's pyramid (it needs a few octaves).
constexpr int smallestSide = 32;

// Which of OpenCV's keypoints to keep: the `maxFeatures` largest blobs, each with the first
// `orientations` of its directions by angle, as COLMAP's extractor chose. OpenCV's own cap keeps
// the strongest keypoints, each direction counted as one, and left a hard photo of a real
// capture out of its model.
std::vector<int> largestBlobs(const std::vector<cv::KeyPoint>& keypoints,
                              const FeatureExtractionOptions& options) {
    // OpenCV gives a blob's directions one after another, sorted by position and size.
    std::vector<std::pair<int, int>> blobs;  // first keypoint, how many
    for (int i = 0; i < int(keypoints.size()); ++i) {
        const auto& k = keypoints[i];
        if (!blobs.empty()) {
            const auto& last = keypoints[blobs.back().first];
            if (last.pt == k.pt && last.size == k.size) {
                ++blobs.back().second;
                continue;
            }
        }
        blobs.emplace_back(i, 1);
    }
    const std::size_t count = std::min(blobs.size(), std::size_t(std::max(0, options.maxFeatures)));
    std::stable_sort(blobs.begin(), blobs.end(), [&](const auto& a, const auto& b) {
        return keypoints[a.first].size > keypoints[b.first].size;
    });
    std::vector<int> kept;
    for (std::size_t b = 0; b < count; ++b)
        for (int k = 0; k < std::min(blobs[b].second, options.orientations); ++k)
            kept.push_back(blobs[b].first + k);
    return kept;
}

}  // namespace

PhotoFeatures findFeatures(const cv::Mat& grey, const cv::Mat& mask,
                           const FeatureExtractionOptions& options) {
    PhotoFeatures features;
    features.descriptors.create(0, 128, CV_8U);
    if (grey.empty() || std::min(grey.cols, grey.rows) < smallestSide) return features;
    // OpenCV's detector always starts from the photo doubled. Given the photo halved, it starts
    // from the photo's own size, where COLMAP's extractor started: the doubled octave's detail is
    // gone anyway after its first blur.
    const cv::Size half(grey.cols / 2, grey.rows / 2);
    cv::Mat halved, halvedMask;
    cv::resize(grey, halved, half, 0, 0, cv::INTER_AREA);
    if (!mask.empty()) cv::resize(mask, halvedMask, half, 0, 0, cv::INTER_AREA);
    const auto detector =
        cv::SIFT::create(0, 3, options.contrastThreshold, options.edgeThreshold, 1.6);
    std::vector<cv::KeyPoint> found;
    cv::Mat descriptors;
    detector->detectAndCompute(halved, halvedMask, found, descriptors);
    const std::vector<int> kept = largestBlobs(found, options);
    // OpenCV reports its doubled image's pixel u at u / 2, a quarter pixel past where that pixel
    // lies in the halved photo; each halved pixel's centre then lies at (h + 0.5) * scale in the
    // photo's corner-based coordinates.
    const float scaleX = float(grey.cols) / float(half.width);
    const float scaleY = float(grey.rows) / float(half.height);
    features.descriptors.create(int(kept.size()), 128, CV_8U);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const cv::KeyPoint& keypoint = found[kept[i]];
        features.points.emplace_back((keypoint.pt.x + 0.25f) * scaleX,
                                     (keypoint.pt.y + 0.25f) * scaleY);
        // OpenCV's size is twice the blob's scale, in the halved photo's pixels.
        features.scales.push_back(keypoint.size * 0.5f * std::sqrt(scaleX * scaleY));
        features.orientations.push_back(keypoint.angle * float(CV_PI / 180));
        // Root-normalised: the square root of each bin's share of the sum, as COLMAP stores it.
        // OpenCV has rounded its bins to whole numbers already, so the smallest shares come out
        // coarser than COLMAP's; matching did not suffer for it.
        const float* bins = descriptors.ptr<float>(kept[i]);
        float sum = 0;
        for (int bin = 0; bin < 128; ++bin) sum += bins[bin];
        auto* out = features.descriptors.ptr<std::uint8_t>(int(i));
        for (int bin = 0; bin < 128; ++bin)
            out[bin] = std::uint8_t(
                std::min(255.f, std::round(512.f * std::sqrt(bins[bin] / std::max(sum, 1e-12f)))));
    }
    return features;
}

}  // namespace pelorin::engine::local
