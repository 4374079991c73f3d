#include "engine/reconstruction/local/colmap/feature_extraction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include <opencv2/imgproc.hpp>

#include "engine/reconstruction/local/colmap/descriptor_matching.h"
#include "tests/support/noise_images.h"

namespace pelorin::engine::local {
namespace {

using pelorin::testing::blurredNoise;

// A mid grey photo with one dark Gaussian blob centred on `centre`, in pixel-centre coordinates.
cv::Mat blob(cv::Size size, cv::Point2d centre, double sigma) {
    cv::Mat grey(size, CV_8U);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            const double d2 = (x - centre.x) * (x - centre.x) + (y - centre.y) * (y - centre.y);
            grey.at<std::uint8_t>(y, x) =
                cv::saturate_cast<std::uint8_t>(200 - 150 * std::exp(-d2 / (2 * sigma * sigma)));
        }
    return grey;
}

double distance(cv::Point2f a, cv::Point2d b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

// Positions are what structure from motion is made of: a quarter pixel off everywhere moves
// every camera's centre, and a factor of two in scale picks the wrong features to match.
TEST(FeatureExtractionTest, ABlobIsFoundWhereItLiesInCOLMAPsConventionAndAtItsScale) {
    struct Case {
        const char* name;
        cv::Size size;
        cv::Point2d centre;
        double sigma;
    };
    const std::vector<Case> cases = {
        {"even size", {640, 480}, {200.3, 150.6}, 4},
        {"odd size", {641, 481}, {200.3, 150.6}, 4},
        {"odd size, larger blob", {641, 481}, {321.7, 240.2}, 5},
        {"larger blob", {640, 480}, {300.0, 250.5}, 9},
        {"small odd photo", {213, 157}, {101.25, 77.75}, 3},
    };
    for (const auto& c : cases) {
        const auto found = findFeatures(blob(c.size, c.centre, c.sigma), {}, {});
        ASSERT_FALSE(found.points.empty()) << c.name;
        const cv::Point2d expected = c.centre + cv::Point2d(0.5, 0.5);
        std::size_t nearest = 0;
        for (std::size_t i = 0; i < found.points.size(); ++i)
            if (distance(found.points[i], expected) < distance(found.points[nearest], expected))
                nearest = i;
        EXPECT_LT(distance(found.points[nearest], expected), 0.1) << c.name;
        EXPECT_NEAR(found.scales[nearest] / c.sigma, 1, 0.3) << c.name;
    }
}

// A photo and the same photo moved, turned or shrunk: its features must match their moved
// selves, which only holds if positions, orientations and descriptors all are right.
TEST(FeatureExtractionTest, APhotoMovedTurnedOrShrunkMatchesItselfWhereItMoved) {
    struct Case {
        const char* name;
        double degrees, scale;
        cv::Point2d shift;
    };
    const std::vector<Case> cases = {
        {"shifted", 0, 1, {13, 7}},
        {"turned", 30, 1, {0, 0}},
        {"shrunk", 0, 0.8, {0, 0}},
    };
    const cv::Mat photo = blurredNoise({480, 400}, 3);
    const auto original = findFeatures(photo, {}, {});
    ASSERT_GT(original.points.size(), 200u);
    for (const auto& c : cases) {
        cv::Mat moving = cv::getRotationMatrix2D({240, 200}, c.degrees, c.scale);
        moving.at<double>(0, 2) += c.shift.x;
        moving.at<double>(1, 2) += c.shift.y;
        cv::Mat moved;
        cv::warpAffine(photo, moved, moving, photo.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        const auto other = findFeatures(moved, {}, {});
        const auto matches = mutualMatches(original.descriptors, other.descriptors);
        int agree = 0;
        for (const auto& [a, b] : matches) {
            // The transform maps pixel centres; COLMAP's points sit half a pixel further.
            const cv::Point2d p = cv::Point2d(original.points[a]) - cv::Point2d(0.5, 0.5);
            const cv::Point2d q(moving.at<double>(0, 0) * p.x + moving.at<double>(0, 1) * p.y +
                                    moving.at<double>(0, 2) + 0.5,
                                moving.at<double>(1, 0) * p.x + moving.at<double>(1, 1) * p.y +
                                    moving.at<double>(1, 2) + 0.5);
            agree += distance(other.points[b], q) < 1.0;
        }
        EXPECT_GT(agree, 100) << c.name;
        EXPECT_GT(agree, 0.9 * double(matches.size())) << c.name;
    }
    // COLMAP's bytes: the root of each bin's share, times 512, so each row's length is 512.
    for (int row = 0; row < original.descriptors.rows; ++row)
        EXPECT_NEAR(cv::norm(original.descriptors.row(row), cv::NORM_L2), 512, 8) << row;
}

// Blobs, with each of a blob's directions: the features at one point and scale.
std::map<std::pair<float, float>, std::vector<float>> blobsOf(const PhotoFeatures& features) {
    std::map<std::pair<float, float>, std::vector<float>> blobs;
    for (std::size_t i = 0; i < features.points.size(); ++i)
        blobs[{features.points[i].x, features.points[i].y}].push_back(features.scales[i]);
    return blobs;
}

TEST(FeatureExtractionTest, TheLargestBlobsAreKeptEachWithAtMostTwoDirections) {
    const cv::Mat photo = blurredNoise({480, 400}, 7);
    const auto all = findFeatures(photo, {}, {.maxFeatures = 100000, .orientations = 8});
    const auto capped = findFeatures(photo, {}, {.maxFeatures = 60});
    const auto allBlobs = blobsOf(all), cappedBlobs = blobsOf(capped);
    ASSERT_GT(allBlobs.size(), 200u);
    ASSERT_EQ(cappedBlobs.size(), 60u);
    std::vector<float> scales;
    for (const auto& [point, directions] : allBlobs) scales.push_back(directions[0]);
    std::sort(scales.rbegin(), scales.rend());
    std::size_t withMoreDirections = 0;
    for (const auto& [point, directions] : cappedBlobs) {
        EXPECT_GE(directions[0], scales[59]) << "a smaller blob was kept";
        ASSERT_TRUE(allBlobs.count(point));
        const std::size_t found = allBlobs.at(point).size();
        EXPECT_EQ(directions.size(), std::min<std::size_t>(found, 2));
        withMoreDirections += found > 2;
    }
    ASSERT_GT(withMoreDirections, 0u) << "nothing here tells whether directions are capped";
}

TEST(FeatureExtractionTest, FeaturesComeOnlyFromWhereTheMaskIsSet) {
    const cv::Mat photo = blurredNoise({480, 400}, 5);
    cv::Mat mask = cv::Mat::zeros(photo.size(), CV_8U);
    mask(cv::Rect(0, 0, 240, 400)).setTo(255);
    const auto found = findFeatures(photo, mask, {});
    ASSERT_GT(found.points.size(), 50u);
    for (const auto& point : found.points) EXPECT_LT(point.x, 241) << point;
    EXPECT_TRUE(findFeatures(photo, cv::Mat::zeros(photo.size(), CV_8U), {}).points.empty());
}

TEST(FeatureExtractionTest, PhotosWithNothingToFindGiveNoFeaturesAndWellFormedRecords) {
    const std::vector<std::pair<const char*, cv::Mat>> cases = {
        {"empty", cv::Mat()},
        {"one pixel", cv::Mat(1, 1, CV_8U, cv::Scalar(9))},
        {"two by two", blurredNoise({2, 2}, 1)},
        {"three by five", blurredNoise({3, 5}, 2)},
        {"a thin strip", blurredNoise({400, 20}, 1)},
        {"flat", cv::Mat(200, 300, CV_8U, cv::Scalar(128))},
    };
    for (const auto& [name, photo] : cases) {
        const auto found = findFeatures(photo, {}, {});
        EXPECT_TRUE(found.points.empty()) << name;
        EXPECT_EQ(found.descriptors.rows, 0) << name;
        EXPECT_EQ(found.descriptors.cols, 128) << name;
        EXPECT_EQ(found.descriptors.type(), CV_8U) << name;
    }
}

}  // namespace
}  // namespace pelorin::engine::local
