#include "engine/reconstruction/local/colmap/descriptor_matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

namespace pelorin::engine::local {
namespace {

using Matches = std::vector<std::pair<int, int>>;

// Random descriptors of the kind SIFT gives: 128 small non-negative bytes.
cv::Mat randomDescriptors(int rows, std::mt19937& random) {
    cv::Mat descriptors(rows, 128, CV_8U);
    std::uniform_int_distribution<int> level(0, 60);
    for (int r = 0; r < rows; ++r)
        for (int k = 0; k < 128; ++k)
            descriptors.at<std::uint8_t>(r, k) = std::uint8_t(level(random));
    return descriptors;
}

cv::Mat rows(const cv::Mat& from, const std::vector<int>& which) {
    cv::Mat picked(int(which.size()), from.cols, from.type());
    for (int i = 0; i < int(which.size()); ++i) from.row(which[i]).copyTo(picked.row(i));
    return picked;
}

TEST(DescriptorMatching, SmallCasesKeepOnlyClearMutualPartners) {
    std::mt19937 random(3);
    const cv::Mat base = randomDescriptors(4, random);
    cv::Mat zero = cv::Mat::zeros(1, 128, CV_8U);
    cv::Mat far = base.row(0).clone();
    // Half the bins emptied and the rest raised: over 0.7 radians from the original.
    for (int k = 0; k < 64; ++k) far.at<std::uint8_t>(k) = 0;
    for (int k = 64; k < 128; ++k) far.at<std::uint8_t>(k) = 200;
    cv::Mat twice;
    cv::vconcat(std::vector<cv::Mat>{base.row(1), base.row(1), base.row(2)}, twice);
    struct Case {
        const char* what;
        cv::Mat a, b;
        Matches expected;
    };
    const std::vector<Case> cases = {
        {"shuffled copies", base, rows(base, {2, 0, 3, 1}), {{0, 1}, {1, 3}, {2, 0}, {3, 2}}},
        {"one twin in the other photo is no clear partner", base.rowRange(1, 3), twice, {{1, 2}}},
        {"too far apart", base.row(0), far, {}},
        {"a descriptor of zeros", zero, base, {}},
        {"nothing to match", cv::Mat(), base, {}},
        {"a single candidate each", base.row(3), base.row(3), {{0, 0}}},
    };
    for (const auto& c : cases) EXPECT_EQ(mutualMatches(c.a, c.b), c.expected) << c.what;
}

TEST(DescriptorMatching, OnlyPartnersBothWaysCount) {
    std::mt19937 random(5);
    const cv::Mat b = randomDescriptors(2, random);
    // Both of a's rows lie nearest b's first, the second of them nearer: b's first picks it,
    // and a's first, though its own nearest is b's first, is left without a partner.
    cv::Mat a(2, 128, CV_8U);
    cv::addWeighted(b.row(0), 0.8, b.row(1), 0.2, 0, a.row(0));
    cv::addWeighted(b.row(0), 0.95, b.row(1), 0.05, 0, a.row(1));
    EXPECT_EQ(mutualMatches(a, b, {.maxRatio = 1, .maxAngle = 1}), (Matches{{1, 0}}));
}

TEST(DescriptorMatching, NoisyViewsOfOneSetMatchCorrectlyAndStrangersHardlyAtAll) {
    std::mt19937 random(11);
    const cv::Mat features = randomDescriptors(800, random);
    std::vector<int> order(800);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    cv::Mat seen = rows(features, order);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int r = 0; r < seen.rows; ++r)
        for (int k = 0; k < 128; ++k)
            seen.at<std::uint8_t>(r, k) =
                cv::saturate_cast<std::uint8_t>(seen.at<std::uint8_t>(r, k) + noise(random));
    const auto matches = mutualMatches(features, seen);
    EXPECT_GT(matches.size(), 760u);
    for (const auto& [i, j] : matches) EXPECT_EQ(order[j], i);
    EXPECT_TRUE(std::is_sorted(matches.begin(), matches.end()));
    EXPECT_LT(mutualMatches(features, randomDescriptors(800, random)).size(), 8u);
}

}  // namespace
}  // namespace pelorin::engine::local
