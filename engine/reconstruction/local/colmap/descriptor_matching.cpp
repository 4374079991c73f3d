#include "engine/reconstruction/local/colmap/descriptor_matching.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pelorin::engine::local {

namespace {

// Each descriptor as a float row of unit length, so that one product gives every cosine. A
// descriptor of zeros stays zero: it is near nothing.
cv::Mat unitRows(const cv::Mat& descriptors) {
    cv::Mat rows;
    descriptors.convertTo(rows, CV_32F);
    for (int r = 0; r < rows.rows; ++r) {
        cv::Mat row = rows.row(r);
        if (const double length = cv::norm(row); length > 0) row *= 1 / length;
    }
    return rows;
}

struct Nearest {
    float first = -std::numeric_limits<float>::infinity();
    float second = first;
    int at = -1;
    void offer(float cosine, int index) {
        if (cosine > first) {
            second = first;
            first = cosine;
            at = index;
        } else if (cosine > second) {
            second = cosine;
        }
    }
    // The partner when it is near enough and clearly nearer than the runner-up, else -1.
    int partner(const DescriptorMatchOptions& options) const {
        if (at < 0) return -1;
        const double best = std::acos(std::clamp(double(first), -1.0, 1.0));
        // With one candidate there is no runner-up to be confused with.
        const double next =
            std::isfinite(second) ? std::acos(std::clamp(double(second), -1.0, 1.0)) : M_PI;
        // Not below: two equally near partners are no match.
        return best <= options.maxAngle && best < options.maxRatio * next ? at : -1;
    }
};

}  // namespace

std::vector<std::pair<int, int>> mutualMatches(const cv::Mat& a, const cv::Mat& b,
                                               const DescriptorMatchOptions& options) {
    if (a.empty() || b.empty() || a.cols != b.cols) return {};
    cv::Mat cosines;
    cv::gemm(unitRows(a), unitRows(b), 1, cv::noArray(), 0, cosines, cv::GEMM_2_T);
    std::vector<Nearest> forward(a.rows), backward(b.rows);
    for (int i = 0; i < cosines.rows; ++i) {
        const float* row = cosines.ptr<float>(i);
        for (int j = 0; j < cosines.cols; ++j) {
            forward[i].offer(row[j], j);
            backward[j].offer(row[j], i);
        }
    }
    std::vector<std::pair<int, int>> matches;
    for (int i = 0; i < a.rows; ++i) {
        const int j = forward[i].partner(options);
        if (j >= 0 && backward[j].partner(options) == i) matches.emplace_back(i, j);
    }
    return matches;
}

}  // namespace pelorin::engine::local
