#include "engine/reconstruction/local/stereo/dense_stereo.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

namespace pelorin::engine::local {

namespace {

cv::Matx33d intrinsics(const PinholeCamera& c) {
    // The warp works with pixel centres at whole numbers.
    return {c.fx, 0, c.cx - 0.5, 0, c.fy, c.cy - 0.5, 0, 0, 1};
}

cv::Matx33d toMatx(const Mat3& m) {
    return {m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]};
}

// Homography taking reference pixels to neighbour pixels for the fronto-parallel plane at
// depth d in the reference camera.
cv::Matx33d planeHomography(const RegisteredView& reference, const RegisteredView& neighbour,
                            double depth) {
    const cv::Matx33d rotation = toMatx(neighbour.rotation) * toMatx(reference.rotation).t();
    const Vec3 offset = neighbour.rotation * (reference.centre - neighbour.centre);
    const cv::Vec3d translation(offset[0], offset[1], offset[2]);
    // x_n = R x_r + t, and on the plane n.x_r = d with n = (0, 0, 1).
    const cv::Matx33d plane = rotation + translation * cv::Matx13d(0, 0, 1.0 / depth);
    return intrinsics(neighbour.camera) * plane * intrinsics(reference.camera).inv();
}

struct WindowStats {
    cv::Mat mean;
    cv::Mat deviation;  // standard deviation
};

WindowStats windowStats(const cv::Mat& image, int window) {
    WindowStats stats;
    cv::Mat square;
    cv::boxFilter(image, stats.mean, CV_32F, {window, window});
    cv::boxFilter(image.mul(image), square, CV_32F, {window, window});
    cv::Mat variance = square - stats.mean.mul(stats.mean);
    cv::max(variance, 0, variance);
    cv::sqrt(variance, stats.deviation);
    return stats;
}

}  // namespace

RegisteredView viewAtSize(const RegisteredView& view, cv::Size size) {
    RegisteredView scaled = view;
    const double sx = double(size.width) / view.camera.width;
    const double sy = double(size.height) / view.camera.height;
    scaled.camera.width = size.width;
    scaled.camera.height = size.height;
    scaled.camera.fx *= sx;
    scaled.camera.fy *= sy;
    scaled.camera.cx *= sx;
    scaled.camera.cy *= sy;
    return scaled;
}

DepthMap computeDepthMap(const StereoView& reference, const std::vector<StereoView>& neighbours,
                         double nearest, double farthest, const StereoOptions& options) {
    const cv::Size size = reference.grey.size();
    DepthMap result{reference.view, cv::Mat::zeros(size, CV_32F)};
    if (neighbours.empty() || nearest <= 0 || farthest <= nearest) return result;
    const int window = options.window;
    const WindowStats ref = windowStats(reference.grey, window);
    const int counted = std::clamp(options.bestNeighbours, 1, static_cast<int>(neighbours.size()));

    // Per pixel: the best cost so far, its plane, and the costs of the planes either side of
    // it for a sub-plane refinement.
    cv::Mat best(size, CV_32F, cv::Scalar(std::numeric_limits<float>::max()));
    cv::Mat bestPlane(size, CV_32S, cv::Scalar(-1));
    cv::Mat before(size, CV_32F, cv::Scalar(1)), after(size, CV_32F, cv::Scalar(1));
    cv::Mat previous(size, CV_32F, cv::Scalar(1));
    std::vector<cv::Mat> costs(neighbours.size());
    cv::Mat warped, valid, product, productMean, cost, combined;
    const double inverseNear = 1 / nearest, inverseFar = 1 / farthest;
    for (int k = 0; k < options.planes; ++k) {
        const double inverse = inverseFar + (inverseNear - inverseFar) * (k + 0.5) / options.planes;
        const double depth = 1 / inverse;
        for (std::size_t n = 0; n < neighbours.size(); ++n) {
            const auto h = planeHomography(reference.view, neighbours[n].view, depth);
            cv::warpPerspective(neighbours[n].grey, warped, cv::Mat(h), size,
                                cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT,
                                cv::Scalar(-1));
            // Outside the neighbour's photo the warp gives -1: such pixels cannot match.
            cv::compare(warped, 0, valid, cv::CMP_LT);
            const WindowStats other = windowStats(warped, window);
            cv::boxFilter(reference.grey.mul(warped), productMean, CV_32F, {window, window});
            cv::Mat covariance = productMean - ref.mean.mul(other.mean);
            cv::Mat denominator = ref.deviation.mul(other.deviation) + 1e-3f;
            cv::divide(covariance, denominator, cost);
            cost = 1.0f - cost;  // 0 for a perfect match, up to 2
            cv::dilate(valid, valid, cv::getStructuringElement(cv::MORPH_RECT, {window, window}));
            cost.setTo(2.0f, valid);
            cost.copyTo(costs[n]);
        }
        // The mean of the best `counted` neighbours' costs.
        if (costs.size() == 1) {
            combined = costs[0];
        } else if (costs.size() == 3 && counted == 2) {
            // The usual case, run for every pixel and plane: the two smallest of three, added
            // smaller first as the general sort below would.
            combined = cv::Mat(size, CV_32F);
            for (int y = 0; y < size.height; ++y) {
                const float *a = costs[0].ptr<float>(y), *b = costs[1].ptr<float>(y),
                            *c = costs[2].ptr<float>(y);
                float* out = combined.ptr<float>(y);
                for (int x = 0; x < size.width; ++x) {
                    const float low = std::min(a[x], b[x]), high = std::max(a[x], b[x]);
                    const float second = std::min(high, c[x]);
                    out[x] = (std::min(low, second) + std::max(low, second)) / 2;
                }
            }
        } else {
            combined = cv::Mat(size, CV_32F);
            std::vector<float> values(costs.size());
            for (int y = 0; y < size.height; ++y) {
                float* out = combined.ptr<float>(y);
                for (int x = 0; x < size.width; ++x) {
                    for (std::size_t n = 0; n < costs.size(); ++n)
                        values[n] = costs[n].ptr<float>(y)[x];
                    std::partial_sort(values.begin(), values.begin() + counted, values.end());
                    float sum = 0;
                    for (int i = 0; i < counted; ++i) sum += values[i];
                    out[x] = sum / counted;
                }
            }
        }
        for (int y = 0; y < size.height; ++y) {
            const float* c = combined.ptr<float>(y);
            const float* p = previous.ptr<float>(y);
            float* b = best.ptr<float>(y);
            int* plane = bestPlane.ptr<int>(y);
            float* lo = before.ptr<float>(y);
            float* hi = after.ptr<float>(y);
            for (int x = 0; x < size.width; ++x) {
                if (plane[x] == k - 1) hi[x] = c[x];
                if (c[x] < b[x]) {
                    b[x] = c[x];
                    plane[x] = k;
                    lo[x] = k > 0 ? p[x] : 1;
                    hi[x] = 1;
                }
            }
        }
        combined.copyTo(previous);
    }

    const double step = (inverseNear - inverseFar) / options.planes;
    for (int y = 0; y < size.height; ++y) {
        const float* b = best.ptr<float>(y);
        const int* plane = bestPlane.ptr<int>(y);
        const float* lo = before.ptr<float>(y);
        const float* hi = after.ptr<float>(y);
        const float* deviation = ref.deviation.ptr<float>(y);
        const std::uint8_t* mask = reference.mask.empty() ? nullptr : reference.mask.ptr(y);
        float* out = result.depth.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            if (plane[x] <= 0 || plane[x] >= options.planes - 1) continue;  // at the range's edge
            if (1 - b[x] < options.minimumCorrelation) continue;
            if (deviation[x] < options.minimumTexture) continue;
            if (mask && !mask[x]) continue;
            // A parabola through the three costs puts the minimum between planes.
            const double curvature = lo[x] - 2.0 * b[x] + hi[x];
            double shift = curvature > 1e-6 ? 0.5 * (lo[x] - hi[x]) / curvature : 0.0;
            shift = std::clamp(shift, -0.5, 0.5);
            const double inverse = inverseFar + step * (plane[x] + 0.5 + shift);
            out[x] = static_cast<float>(1 / inverse);
        }
    }
    return result;
}

}  // namespace pelorin::engine::local
