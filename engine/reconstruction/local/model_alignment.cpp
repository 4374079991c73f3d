#include "engine/reconstruction/local/model_alignment.h"

#include <algorithm>

#include <opencv2/core.hpp>

namespace pelorin::engine::local {

std::optional<Similarity> fitSimilarity(const std::vector<Vec3>& from,
                                        const std::vector<Vec3>& to) {
    const std::size_t n = std::min(from.size(), to.size());
    if (n < 3) return std::nullopt;
    Vec3 meanFrom{}, meanTo{};
    for (std::size_t i = 0; i < n; ++i) {
        meanFrom = meanFrom + from[i];
        meanTo = meanTo + to[i];
    }
    meanFrom = (1.0 / n) * meanFrom;
    meanTo = (1.0 / n) * meanTo;
    cv::Matx33d covariance = cv::Matx33d::zeros();
    double spread = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3 a = from[i] - meanFrom, b = to[i] - meanTo;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) covariance(r, c) += b[r] * a[c];
        spread += dot(a, a);
    }
    if (spread <= 0) return std::nullopt;
    cv::Mat w, u, vt;
    cv::SVD::compute(cv::Mat(covariance), w, u, vt);
    // Points on a line leave the turn about that line undetermined.
    if (w.at<double>(1) < 1e-9 * w.at<double>(0)) return std::nullopt;
    cv::Matx33d flip = cv::Matx33d::eye();
    if (cv::determinant(u) * cv::determinant(vt) < 0) flip(2, 2) = -1;
    const cv::Matx33d rotation = cv::Matx33d(u) * flip * cv::Matx33d(vt);
    double trace = 0;
    for (int i = 0; i < 3; ++i) trace += w.at<double>(i) * flip(i, i);
    Similarity result;
    result.scale = trace / spread;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) result.rotation[r * 3 + c] = rotation(r, c);
    result.translation = meanTo - result.scale * (result.rotation * meanFrom);
    return result;
}

std::optional<Mat3> uprightFromGravity(const SparseModel& model,
                                       const std::vector<std::optional<Vec3>>& gravity) {
    Vec3 sum{};
    int count = 0;
    for (std::size_t i = 0; i < model.views.size() && i < gravity.size(); ++i) {
        if (!gravity[i] || norm(*gravity[i]) <= 0) continue;
        const Vec3& g = *gravity[i];
        // The phone's camera frame has y up and z backwards; the model's cameras y down and
        // z forwards.
        const Vec3 inCamera = normalized({g[0], -g[1], -g[2]});
        sum = sum + transposed(model.views[i].rotation) * inCamera;
        ++count;
    }
    if (count == 0 || norm(sum) < 1e-9) return std::nullopt;
    return rotationBetween(normalized(sum), {0, -1, 0});
}

Mat3 uprightFromCameras(const SparseModel& model) {
    Vec3 up{};
    for (const auto& view : model.views) up = up + transposed(view.rotation) * Vec3{0, -1, 0};
    if (norm(up) < 1e-9) return identity3;
    return rotationBetween(normalized(up), {0, 1, 0});
}

Similarity normalisedSize(const SparseModel& model, double diagonal) {
    std::array<std::vector<double>, 3> axes;
    for (const auto& [id, point] : model.points)
        for (int a = 0; a < 3; ++a) axes[a].push_back(point.position[a]);
    Similarity result;
    if (axes[0].empty()) return result;
    Vec3 low{}, high{};
    for (int a = 0; a < 3; ++a) {
        auto& values = axes[a];
        std::sort(values.begin(), values.end());
        low[a] = values[values.size() * 5 / 100];
        high[a] = values[values.size() * 95 / 100];
    }
    const double extent = norm(high - low);
    if (extent <= 0) return result;
    result.scale = diagonal / extent;
    result.translation = -result.scale * (0.5 * (low + high));
    return result;
}

}  // namespace pelorin::engine::local
