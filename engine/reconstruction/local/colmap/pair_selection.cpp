#include "engine/reconstruction/local/colmap/pair_selection.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <set>

#include <opencv2/calib3d.hpp>

#include "engine/reconstruction/local/parallel_for.h"

namespace pelorin::engine::local {

namespace {

struct Prepared {
    cv::Mat descriptors;   // CV_32F
    cv::Mat squaredNorms;  // one column
};

Prepared prepared(const PhotoFeatures& photo, int count) {
    Prepared result;
    const int rows = std::min({count, photo.descriptors.rows, int(photo.points.size())});
    // A photo without features has no partners.
    if (rows <= 0 || photo.descriptors.cols != 128) return result;
    photo.descriptors.rowRange(0, rows).convertTo(result.descriptors, CV_32F);
    cv::reduce(result.descriptors.mul(result.descriptors), result.squaredNorms, 1, cv::REDUCE_SUM);
    return result;
}

// For each row of `distances`, the column of its nearest neighbour when it passes the ratio
// test, else -1.
std::vector<int> nearest(const cv::Mat& distances, double ratio) {
    std::vector<int> best(distances.rows, -1);
    for (int r = 0; r < distances.rows; ++r) {
        const float* row = distances.ptr<float>(r);
        float first = std::numeric_limits<float>::max(), second = first;
        int at = -1;
        for (int c = 0; c < distances.cols; ++c) {
            if (row[c] < first) {
                second = first;
                first = row[c];
                at = c;
            } else if (row[c] < second) {
                second = row[c];
            }
        }
        // Squared distances, so the ratio is squared too.
        if (at >= 0 && first < ratio * ratio * second) best[r] = at;
    }
    return best;
}

// Matches of two photos' features that pass the ratio test both ways and agree on one
// fundamental matrix.
int agreeingMatches(const PhotoFeatures& a, const Prepared& pa, const PhotoFeatures& b,
                    const Prepared& pb, const PairSelectionOptions& options) {
    if (pa.descriptors.rows < 8 || pb.descriptors.rows < 8) return 0;
    cv::Mat distances;
    cv::gemm(pa.descriptors, pb.descriptors, -2, cv::noArray(), 0, distances, cv::GEMM_2_T);
    distances += cv::repeat(pa.squaredNorms, 1, distances.cols);
    distances += cv::repeat(pb.squaredNorms.t(), distances.rows, 1);
    const auto forward = nearest(distances, options.ratio);
    const auto backward = nearest(distances.t(), options.ratio);
    std::vector<cv::Point2f> from, to;
    for (int i = 0; i < int(forward.size()); ++i) {
        if (forward[i] >= 0 && backward[forward[i]] == i) {
            from.push_back(a.points[i]);
            to.push_back(b.points[forward[i]]);
        }
    }
    if (int(from.size()) < options.leastAgreeingMatches) return int(from.size());
    std::vector<std::uint8_t> inliers;
    const cv::Mat fundamental = cv::findFundamentalMat(
        from, to, cv::FM_RANSAC, options.epipolarPixels, 0.999, 2000, inliers);
    if (fundamental.empty()) return 0;
    return int(std::count(inliers.begin(), inliers.end(), std::uint8_t(1)));
}

// A union-find over photos, for the links that join groups.
struct Groups {
    std::vector<int> parent;
    explicit Groups(int n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    int find(int i) { return parent[i] == i ? i : parent[i] = find(parent[i]); }
    bool join(int a, int b) {
        a = find(a);
        b = find(b);
        if (a == b) return false;
        parent[a] = b;
        return true;
    }
};

}  // namespace

std::vector<std::pair<int, int>> selectPairs(const std::vector<PhotoFeatures>& photos, bool ordered,
                                             const PairSelectionOptions& options,
                                             std::stop_token stop) {
    const int n = int(photos.size());
    std::vector<Prepared> features;
    for (const auto& photo : photos) features.push_back(prepared(photo, options.featuresPerPhoto));
    std::vector<std::pair<int, int>> all;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) all.emplace_back(i, j);
    std::vector<int> score(all.size(), 0);
    // Hundreds of photos take a while: a stop is heard between pairs.
    parallelFor(
        "pairs", all.size(), options.threads,
        [&](std::size_t k, unsigned) {
            const auto [i, j] = all[k];
            score[k] = agreeingMatches(photos[i], features[i], photos[j], features[j], options);
        },
        stop);
    if (stop.stop_requested()) return {};

    std::set<std::pair<int, int>> kept;
    const auto keep = [&](int i, int j) { kept.emplace(std::min(i, j), std::max(i, j)); };
    std::vector<std::vector<std::pair<int, int>>> partners(n);  // (score, photo) per photo
    for (std::size_t k = 0; k < all.size(); ++k) {
        if (score[k] < options.leastAgreeingMatches) continue;
        partners[all[k].first].emplace_back(score[k], all[k].second);
        partners[all[k].second].emplace_back(score[k], all[k].first);
    }
    for (int i = 0; i < n; ++i) {
        auto& list = partners[i];
        std::sort(list.rbegin(), list.rend());
        for (int p = 0; p < std::min<int>(options.partnersPerPhoto, int(list.size())); ++p)
            keep(i, list[p].second);
        if (ordered) {
            // The first partner found before and after the photo in the order: the best ones.
            const auto before = std::find_if(list.begin(), list.end(),
                                             [&](const auto& entry) { return entry.second < i; });
            const auto after = std::find_if(list.begin(), list.end(),
                                            [&](const auto& entry) { return entry.second > i; });
            if (before != list.end()) keep(i, before->second);
            if (after != list.end()) keep(i, after->second);
        }
    }
    // The strongest links between groups the best partners left apart (a maximum spanning
    // forest over all scored pairs): without them, a set of rings can split into models.
    std::vector<std::size_t> strongest(all.size());
    std::iota(strongest.begin(), strongest.end(), 0);
    std::sort(strongest.begin(), strongest.end(),
              [&](std::size_t a, std::size_t b) { return score[a] > score[b]; });
    Groups groups(n);
    for (const auto& [i, j] : kept) groups.join(i, j);
    for (const std::size_t k : strongest) {
        if (score[k] < options.leastAgreeingMatches) break;
        if (groups.join(all[k].first, all[k].second)) keep(all[k].first, all[k].second);
    }
    return {kept.begin(), kept.end()};
}

std::vector<std::pair<int, int>> withLonePhotosMatchedInFull(std::vector<std::pair<int, int>> pairs,
                                                             int photos) {
    std::vector<bool> placed(photos, false);
    for (const auto& [i, j] : pairs) placed[i] = placed[j] = true;
    std::set<std::pair<int, int>> all(pairs.begin(), pairs.end());
    for (int i = 0; i < photos; ++i) {
        if (placed[i]) continue;
        for (int j = 0; j < photos; ++j)
            if (j != i) all.emplace(std::min(i, j), std::max(i, j));
    }
    return {all.begin(), all.end()};
}

}  // namespace pelorin::engine::local
