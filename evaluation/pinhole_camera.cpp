#include "evaluation/pinhole_camera.h"

#include <opencv2/core.hpp>

namespace pelorin::evaluation {

PinholeCamera::PinholeCamera(const std::array<double, 16>& m, const std::array<double, 9>& k,
                             int width, int height)
    : width_(width), height_(height) {
    // Columns of the pose are the camera's axes in the world; inverting the 3x3 part (rather
    // than transposing it) keeps a pose that is not quite orthonormal exact.
    const cv::Matx33d toWorld(m[0], m[4], m[8], m[1], m[5], m[9], m[2], m[6], m[10]);
    // From the camera's own frame (-Z forward, +Y up) to one with z forward and y down.
    const cv::Matx33d flip(1, 0, 0, 0, -1, 0, 0, 0, -1);
    const cv::Matx33d toCamera = flip * toWorld.inv();
    for (int i = 0; i < 9; ++i) rotation_[i] = toCamera.val[i];
    origin_ = {m[12], m[13], m[14]};
    k_ = {k[0], k[3], k[6], k[1], k[4], k[7], k[2], k[5], k[8]};
}

PinholeCamera PinholeCamera::fromWorldToCamera(const std::array<double, 9>& r, const Point& c,
                                               const std::array<double, 4>& k, int width,
                                               int height) {
    // The pose's columns are the axes of a camera that looks along -Z with +Y up: right, up
    // (minus down) and back (minus forward).
    return PinholeCamera(
        {r[0], r[1], r[2], 0, -r[3], -r[4], -r[5], 0, -r[6], -r[7], -r[8], 0, c[0], c[1], c[2], 1},
        {k[0], 0, 0, 0, k[1], 0, k[2], k[3], 1}, width, height);
}

PinholeCamera PinholeCamera::resized(int width, int height) const {
    // With the corner at (0, 0), scaling the image scales every pixel position alike.
    PinholeCamera copy = *this;
    const double sx = double(width) / width_, sy = double(height) / height_;
    for (int column = 0; column < 3; ++column) {
        copy.k_[column] *= sx;
        copy.k_[3 + column] *= sy;
    }
    copy.width_ = width;
    copy.height_ = height;
    return copy;
}

Point PinholeCamera::toCamera(const Point& world) const {
    const Point d = {world[0] - origin_[0], world[1] - origin_[1], world[2] - origin_[2]};
    const auto& r = rotation_;
    return {r[0] * d[0] + r[1] * d[1] + r[2] * d[2], r[3] * d[0] + r[4] * d[1] + r[5] * d[2],
            r[6] * d[0] + r[7] * d[1] + r[8] * d[2]};
}

std::array<double, 2> PinholeCamera::project(const Point& c) const {
    const double w = k_[6] * c[0] + k_[7] * c[1] + k_[8] * c[2];
    return {(k_[0] * c[0] + k_[1] * c[1] + k_[2] * c[2]) / w,
            (k_[3] * c[0] + k_[4] * c[1] + k_[5] * c[2]) / w};
}

}  // namespace pelorin::evaluation
