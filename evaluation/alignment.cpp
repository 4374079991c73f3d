#include "evaluation/alignment.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/core.hpp>

namespace pelorin::evaluation {

Point Similarity::apply(const Point& p) const {
    const auto& r = rotation;
    return {scale * (r[0] * p[0] + r[1] * p[1] + r[2] * p[2]) + translation[0],
            scale * (r[3] * p[0] + r[4] * p[1] + r[5] * p[2]) + translation[1],
            scale * (r[6] * p[0] + r[7] * p[1] + r[8] * p[2]) + translation[2]};
}

Mesh Similarity::apply(const Mesh& mesh) const {
    Mesh moved = mesh;
    for (auto& v : moved.vertices) v = apply(v);
    return moved;
}

Similarity Similarity::inverse() const {
    Similarity result;
    result.scale = 1 / scale;
    const auto& r = rotation;
    result.rotation = {r[0], r[3], r[6], r[1], r[4], r[7], r[2], r[5], r[8]};
    const Point back = result.apply(translation);
    result.translation = {-back[0], -back[1], -back[2]};
    return result;
}

namespace {

Point centroid(const std::vector<Point>& points) {
    Point c{};
    for (const auto& p : points) {
        for (int i = 0; i < 3; ++i) c[i] += p[i];
    }
    for (int i = 0; i < 3; ++i) c[i] /= std::max<std::size_t>(points.size(), 1);
    return c;
}

double rmsRadius(const std::vector<Point>& points, const Point& c) {
    double sum = 0;
    for (const auto& p : points) {
        for (int i = 0; i < 3; ++i) sum += (p[i] - c[i]) * (p[i] - c[i]);
    }
    return std::sqrt(sum / std::max<std::size_t>(points.size(), 1));
}

// The 24 proper rotations that map coordinate axes onto coordinate axes.
std::vector<std::array<double, 9>> axisRotations() {
    std::vector<std::array<double, 9>> rotations;
    const int permutations[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                    {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const auto& perm : permutations) {
        for (int signs = 0; signs < 8; ++signs) {
            std::array<double, 9> r{};
            for (int row = 0; row < 3; ++row) r[row * 3 + perm[row]] = (signs >> row & 1) ? -1 : 1;
            const double det = r[0] * (r[4] * r[8] - r[5] * r[7]) -
                               r[1] * (r[3] * r[8] - r[5] * r[6]) +
                               r[2] * (r[3] * r[7] - r[4] * r[6]);
            if (det > 0) rotations.push_back(r);
        }
    }
    return rotations;
}

// The principal axes of a point set, as the rows of a rotation.
cv::Matx33d principalAxes(const std::vector<Point>& points, const Point& c) {
    cv::Matx33d covariance = cv::Matx33d::zeros();
    for (const auto& p : points) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) covariance(i, j) += (p[i] - c[i]) * (p[j] - c[j]);
        }
    }
    cv::Matx31d values;
    cv::Matx33d vectors;
    cv::eigen(covariance, values, vectors);
    if (cv::determinant(vectors) < 0) {
        for (int j = 0; j < 3; ++j) vectors(2, j) = -vectors(2, j);
    }
    return vectors;
}

}  // namespace

Similarity fitSimilarity(const std::vector<Point>& from, const std::vector<Point>& to, Fit fit) {
    const Point a = centroid(from), b = centroid(to);
    cv::Matx33d covariance = cv::Matx33d::zeros();
    double variance = 0;
    for (std::size_t k = 0; k < from.size(); ++k) {
        for (int i = 0; i < 3; ++i) {
            variance += (from[k][i] - a[i]) * (from[k][i] - a[i]);
            for (int j = 0; j < 3; ++j) covariance(i, j) += (to[k][i] - b[i]) * (from[k][j] - a[j]);
        }
    }
    cv::Matx33d u, vt;
    cv::Matx31d w;
    cv::SVD::compute(covariance, w, u, vt);
    cv::Matx33d s = cv::Matx33d::eye();
    if (cv::determinant(u) * cv::determinant(vt) < 0) s(2, 2) = -1;
    const cv::Matx33d rotation = u * s * vt;
    Similarity result;
    const double trace = w(0) * s(0, 0) + w(1) * s(1, 1) + w(2) * s(2, 2);
    result.scale = fit == Fit::rigid || variance <= 0 ? 1 : trace / variance;
    for (int i = 0; i < 9; ++i) result.rotation[i] = rotation.val[i];
    const Point moved = result.apply(a);
    for (int i = 0; i < 3; ++i) result.translation[i] = b[i] - moved[i];
    return result;
}

double refineByIcp(const std::vector<Point>& points, const SurfaceDistance& surface,
                   Similarity& start, int iterations, Fit fit) {
    double mean = std::numeric_limits<double>::infinity();
    if (points.empty()) return mean;
    std::vector<Point> from, to;
    std::vector<double> distances(points.size());
    std::vector<Point> targets(points.size());
    for (int step = 0; step <= iterations; ++step) {
        double sum = 0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            const auto nearest = surface.nearest(start.apply(points[k]));
            distances[k] = nearest.distance;
            targets[k] = nearest.point;
            sum += nearest.distance;
        }
        const double previous = mean;
        mean = sum / std::max<std::size_t>(points.size(), 1);
        if (step == iterations || previous - mean < 1e-7 * mean) break;
        // Pairs far beyond the typical distance are outliers (parts the other side lacks).
        std::vector<double> sorted = distances;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double cutoff = 3 * sorted[sorted.size() / 2] + 1e-12;
        from.clear();
        to.clear();
        for (std::size_t k = 0; k < points.size(); ++k) {
            if (distances[k] <= cutoff) {
                from.push_back(points[k]);
                to.push_back(targets[k]);
            }
        }
        if (from.size() < 3) break;
        start = fitSimilarity(from, to, fit);
    }
    return mean;
}

Similarity alignGlobally(const std::vector<Point>& modelPoints,
                         const std::vector<Point>& truthPoints, const SurfaceDistance& truth,
                         Fit fit) {
    const Point mc = centroid(modelPoints), tc = centroid(truthPoints);
    const double scale = fit == Fit::rigid ? 1
                                           : rmsRadius(truthPoints, tc) /
                                                 std::max(rmsRadius(modelPoints, mc), 1e-12);
    // A thin subset is enough to rank the starting rotations.
    std::vector<Point> few;
    for (std::size_t k = 0; k < modelPoints.size();
         k += std::max<std::size_t>(1, modelPoints.size() / 500)) {
        few.push_back(modelPoints[k]);
    }
    Similarity best;
    double bestMean = std::numeric_limits<double>::infinity();
    // Starting rotations: model axes onto truth axes, principal axes to principal axes, in every
    // one of the 24 ways axes can be matched.
    const cv::Matx33d modelAxes = principalAxes(modelPoints, mc);
    const cv::Matx33d truthAxes = principalAxes(truthPoints, tc);
    for (const auto& turn : axisRotations()) {
        const cv::Matx33d permutation(turn.data());
        const cv::Matx33d rotation = truthAxes.t() * permutation * modelAxes;
        Similarity candidate;
        candidate.scale = scale;
        for (int i = 0; i < 9; ++i) candidate.rotation[i] = rotation.val[i];
        const Point moved = candidate.apply(mc);
        for (int i = 0; i < 3; ++i) candidate.translation[i] = tc[i] - moved[i];
        const double mean = refineByIcp(few, truth, candidate, 15, fit);
        if (mean < bestMean) {
            bestMean = mean;
            best = candidate;
        }
    }
    refineByIcp(modelPoints, truth, best, 60, fit);
    return best;
}

double tiltDegrees(const Similarity& similarity) {
    const double cosine = std::clamp(similarity.rotation[4], -1.0, 1.0);
    return std::acos(cosine) * 180 / 3.14159265358979323846;
}

}  // namespace pelorin::evaluation
