#include "engine/reconstruction/local/colmap/pair_selection.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>

#include <opencv2/calib3d.hpp>

#include "engine/reconstruction/local/colmap/descriptor_matching.h"
#include "engine/reconstruction/local/parallel_for.h"

namespace pelorin::engine::local {

namespace {

// The photo's first `count` features: the caller puts the strongest first.
cv::Mat firstDescriptors(const PhotoFeatures& photo, int count) {
    const int rows = std::min({count, photo.descriptors.rows, int(photo.points.size())});
    // A photo without features has no partners.
    if (rows <= 0 || photo.descriptors.cols != 128) return {};
    return photo.descriptors.rowRange(0, rows);
}

// Matches of two photos' features that pass the ratio test both ways and agree on one
// fundamental matrix.
int agreeingMatches(const PhotoFeatures& a, const cv::Mat& da, const PhotoFeatures& b,
                    const cv::Mat& db, const PairSelectionOptions& options) {
    if (da.rows < 8 || db.rows < 8) return 0;
    // Any angle: only the ratio tells the few strongest features apart.
    const auto matches = mutualMatches(da, db, {.maxRatio = options.ratio, .maxAngle = M_PI});
    std::vector<cv::Point2f> from, to;
    for (const auto& [i, j] : matches) {
        from.push_back(a.points[i]);
        to.push_back(b.points[j]);
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
    std::vector<cv::Mat> features;
    for (const auto& photo : photos)
        features.push_back(firstDescriptors(photo, options.featuresPerPhoto));
    std::vector<std::pair<int, int>> all;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) all.emplace_back(i, j);
    std::vector<int> score(all.size(), 0);
    // Hundreds of photos take a while: a stop is heard between pairs.
    const OpenCvThreadsPerWorker serial;
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
