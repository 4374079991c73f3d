#include "engine/capture/object_mask.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "engine/capture/pixel_buffer_mat.h"

namespace pelorin::engine {
namespace {

// A label image filled with 0 and the given rectangles of labels.
PixelBuffer labels(int width, int height, std::vector<std::pair<cv::Rect, int>> boxes) {
    cv::Mat image(height, width, CV_8U, cv::Scalar(0));
    for (const auto& [box, label] : boxes) image(box).setTo(label);
    return toPixelBuffer(image);
}

TEST(InstanceChoice, RegionPicksTheInstanceCoveringAFifthOfIt) {
    // Instance 1 fills the left half, instance 2 a small box on the right.
    const auto image =
        labels(100, 100, {{cv::Rect(0, 0, 50, 100), 1}, {cv::Rect(70, 40, 20, 20), 2}});
    EXPECT_EQ(chooseInstance(image, NormalizedRegion{0.6, 0.3, 0.4, 0.4}), 2);
    EXPECT_EQ(chooseInstance(image, NormalizedRegion{0.0, 0.0, 0.5, 1.0}), 1);
    // Instance 2 covers less than a fifth of this region: the centre rule decides (the centre
    // pixel (50, 50) is background, the central half is mostly instance 1).
    EXPECT_EQ(chooseInstance(image, NormalizedRegion{0.55, 0.0, 0.45, 1.0}), 1);
}

TEST(InstanceChoice, CentreRule) {
    EXPECT_EQ(chooseInstance(labels(100, 100, {{cv::Rect(45, 45, 10, 10), 3}}), std::nullopt), 3);
    // Nothing at the centre pixel: the most frequent label in the central half.
    EXPECT_EQ(chooseInstance(
                  labels(100, 100, {{cv::Rect(25, 25, 20, 50), 1}, {cv::Rect(56, 25, 5, 5), 2}}),
                  std::nullopt),
              1);
    EXPECT_EQ(chooseInstance(labels(100, 100, {{cv::Rect(0, 0, 10, 10), 1}}), std::nullopt), 0);
    // An empty region falls back to the centre.
    EXPECT_EQ(chooseInstance(labels(100, 100, {{cv::Rect(40, 40, 20, 20), 4}}),
                             NormalizedRegion{1.0, 1.0, 0.0, 0.0}),
              4);
}

// A textured object on a differently textured background, and its true silhouette.
std::pair<cv::Mat, cv::Mat> syntheticPhoto(int width, int height) {
    cv::RNG random(7);
    cv::Mat background(height, width, CV_8UC3);
    random.fill(background, cv::RNG::UNIFORM, cv::Scalar(150, 110, 40), cv::Scalar(210, 160, 90));
    cv::GaussianBlur(background, background, cv::Size(3, 3), 0);
    cv::Mat object(height, width, CV_8UC3);
    random.fill(object, cv::RNG::UNIFORM, cv::Scalar(20, 40, 140), cv::Scalar(90, 120, 230));
    cv::Mat truth(height, width, CV_8U, cv::Scalar(0));
    cv::ellipse(truth, cv::Point(width / 2, height / 2), cv::Size(width / 5, height / 3), 10, 0,
                360, cv::Scalar(255), cv::FILLED);
    object.copyTo(background, truth);
    return {background, truth};
}

double intersectionOverUnion(const cv::Mat& a, const cv::Mat& b) {
    const double both = cv::countNonZero(a & b);
    const double either = cv::countNonZero(a | b);
    return either == 0 ? 0 : both / either;
}

TEST(Segmentation, MaskOfTheCentralObjectMatchesItsSilhouette) {
    auto [photo, truth] = syntheticPhoto(1600, 1200);
    auto mask = makeObjectMask(*defaultObjectSegmenter(), toPixelBuffer(photo), std::nullopt);
    ASSERT_TRUE(mask);
    ASSERT_EQ(mask->width, 1600);
    ASSERT_EQ(mask->height, 1200);
    ASSERT_EQ(mask->channels, 1);
    const cv::Mat chosen = asMat(*mask) >= 128;
    EXPECT_GE(intersectionOverUnion(chosen, truth), 0.9);

    // A hint around the object gives the same answer.
    auto hinted = makeObjectMask(*defaultObjectSegmenter(), toPixelBuffer(photo),
                                 NormalizedRegion{0.25, 0.15, 0.5, 0.7});
    ASSERT_TRUE(hinted);
    EXPECT_GE(intersectionOverUnion(asMat(*hinted) >= 128, truth), 0.9);
}

TEST(Segmentation, ImagesItCannotUseGiveNoMask) {
    PixelBuffer empty;
    EXPECT_FALSE(makeObjectMask(*defaultObjectSegmenter(), empty, std::nullopt));
    cv::Mat tiny(8, 8, CV_8UC3, cv::Scalar(1, 2, 3));
    EXPECT_FALSE(makeObjectMask(*defaultObjectSegmenter(), toPixelBuffer(tiny), std::nullopt));
}

}  // namespace
}  // namespace pelorin::engine
