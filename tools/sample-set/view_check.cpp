#include "tools/sample-set/view_check.h"

#include <algorithm>
#include <cmath>

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>

#include "evaluation/surface_distance.h"

namespace pelorin::samples {

namespace {

// The view's world-to-camera projection in OpenCV's conventions: camera looking along +Z
// with +Y down, and pixel centres at whole numbers.
cv::Matx34d projection(const evaluation::TruthView& view) {
    const auto& m = view.cameraTransform;
    const cv::Matx33d toWorld(m[0], m[4], m[8], m[1], m[5], m[9], m[2], m[6], m[10]);
    const cv::Vec3d position(m[12], m[13], m[14]);
    const cv::Matx33d flip(1, 0, 0, 0, -1, 0, 0, 0, -1);
    const cv::Matx33d rotation = flip * toWorld.t();
    const cv::Vec3d translation = -(rotation * position);
    const auto& k = view.intrinsics;
    const cv::Matx33d intrinsics(k[0], k[3], k[6] - 0.5, k[1], k[4], k[7] - 0.5, 0, 0, 1);
    cv::Matx34d extrinsics;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) extrinsics(r, c) = rotation(r, c);
        extrinsics(r, 3) = translation[r];
    }
    return intrinsics * extrinsics;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

ViewPairCheck checkViewPair(const cv::Mat& imageA, const cv::Mat& imageB,
                            const evaluation::TruthView& a, const evaluation::TruthView& b,
                            const evaluation::Mesh& statue, const link::ObjectBounds& bounds) {
    auto sift = cv::SIFT::create(4000);
    std::vector<cv::KeyPoint> keysA, keysB;
    cv::Mat descriptorsA, descriptorsB;
    sift->detectAndCompute(imageA, cv::noArray(), keysA, descriptorsA);
    sift->detectAndCompute(imageB, cv::noArray(), keysB, descriptorsB);
    ViewPairCheck check;
    if (descriptorsA.empty() || descriptorsB.empty()) return check;
    std::vector<std::vector<cv::DMatch>> candidates;
    cv::BFMatcher(cv::NORM_L2).knnMatch(descriptorsA, descriptorsB, candidates, 2);
    std::vector<cv::Point2d> pointsA, pointsB;
    for (const auto& pair : candidates) {
        if (pair.size() == 2 && pair[0].distance < 0.7f * pair[1].distance) {
            pointsA.push_back(keysA[pair[0].queryIdx].pt);
            pointsB.push_back(keysB[pair[0].trainIdx].pt);
        }
    }
    check.matches = pointsA.size();
    if (pointsA.empty()) return check;

    const auto projectionA = projection(a), projectionB = projection(b);
    // The fundamental matrix from the two projections: F = [eB]x PB PA^+.
    cv::Mat pseudoInverse;
    cv::invert(cv::Mat(projectionA), pseudoInverse, cv::DECOMP_SVD);
    const cv::Matx33d leftA = cv::Matx33d(cv::Mat(projectionA).colRange(0, 3));
    const cv::Vec3d centreA =
        -(leftA.inv() * cv::Vec3d(projectionA(0, 3), projectionA(1, 3), projectionA(2, 3)));
    const cv::Vec4d centre(centreA[0], centreA[1], centreA[2], 1);
    const cv::Vec3d epipole = projectionB * centre;
    const cv::Matx33d cross(0, -epipole[2], epipole[1], epipole[2], 0, -epipole[0], -epipole[1],
                            epipole[0], 0);
    const cv::Matx33d fundamental =
        cross * cv::Matx33d(cv::Mat(cv::Mat(projectionB) * pseudoInverse));

    std::vector<double> epipolar;
    for (std::size_t i = 0; i < pointsA.size(); ++i) {
        const cv::Vec3d x(pointsA[i].x, pointsA[i].y, 1), y(pointsB[i].x, pointsB[i].y, 1);
        const cv::Vec3d lineB = fundamental * x, lineA = fundamental.t() * y;
        const double residual = std::abs(y.dot(lineB));
        epipolar.push_back(0.5 * (residual / std::hypot(lineB[0], lineB[1]) +
                                  residual / std::hypot(lineA[0], lineA[1])));
    }
    std::vector<double> consistent;
    for (double e : epipolar)
        if (e < 2.0) consistent.push_back(e);
    check.consistent = consistent.size();
    check.medianEpipolarPixels = median(consistent);

    cv::Mat homogeneous, points;
    cv::triangulatePoints(cv::Mat(projectionA), cv::Mat(projectionB),
                          cv::Mat(pointsA).reshape(1).t(), cv::Mat(pointsB).reshape(1).t(),
                          homogeneous);
    homogeneous.convertTo(points, CV_64F);
    const evaluation::SurfaceDistance surface(statue);
    std::vector<double> distances;
    for (int i = 0; i < points.cols; ++i) {
        if (epipolar[i] > 2.0) continue;  // a wrong match says nothing of the cameras
        const double w = points.at<double>(3, i);
        const evaluation::Point p = {points.at<double>(0, i) / w, points.at<double>(1, i) / w,
                                     points.at<double>(2, i) / w};
        const double dx = p[0] - bounds.centre[0], dz = p[2] - bounds.centre[2];
        if (std::hypot(dx, dz) > bounds.radius ||
            std::abs(p[1] - bounds.centre[1]) > bounds.height / 2)
            continue;
        distances.push_back(surface.nearest(p).distance);
    }
    check.onStatue = distances.size();
    check.medianSurfaceMetres = median(distances);
    return check;
}

}  // namespace pelorin::samples
