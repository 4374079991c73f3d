#include "evaluation/view_quality.h"

#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "tests/support/camera_poses.h"
#include "tests/support/test_shapes.h"

namespace pelorin::evaluation {
namespace {

Rendering covering(const cv::Mat& colour) {
    return {colour.clone(), cv::Mat(colour.size(), CV_8U, cv::Scalar(255))};
}

TEST(ViewQuality, PsnrOfKnownDifferences) {
    cv::Mat photo(40, 60, CV_8UC3);
    cv::randu(photo, 0, 256);
    const cv::Mat everywhere(photo.size(), CV_8U, cv::Scalar(255));

    const auto same = compareInMask(covering(photo), photo, everywhere);
    ASSERT_TRUE(same) << same.error();
    EXPECT_TRUE(std::isinf(same->psnr));
    EXPECT_EQ(same->coverage, 1);
    EXPECT_EQ(same->pixels, 40u * 60u);

    // Every value off by 10 one way or the other: a mean square of 100, 48.13 - 20 dB.
    const cv::Mat grey(photo.size(), CV_8UC3, cv::Scalar::all(100));
    cv::Mat noisy = grey.clone();
    for (int y = 0; y < noisy.rows; ++y) {
        for (int x = 0; x < noisy.cols; ++x) {
            for (int k = 0; k < 3; ++k) noisy.at<cv::Vec3b>(y, x)[k] = (x + y + k) % 2 ? 110 : 90;
        }
    }
    const auto noise = compareInMask(covering(noisy), grey, everywhere);
    ASSERT_TRUE(noise);
    EXPECT_NEAR(noise->psnr, 10 * std::log10(255.0 * 255.0 / 100), 1e-9);
    EXPECT_NEAR(noise->psnr, 28.13, 0.01);

    // Half the object uncovered counts as black whatever colour lies there: a mean square of
    // 200^2 / 2.
    const cv::Mat light(photo.size(), CV_8UC3, cv::Scalar::all(200));
    Rendering half = covering(light);
    half.coverage.colRange(30, 60).setTo(0);
    const auto halfCovered = compareInMask(half, light, everywhere);
    ASSERT_TRUE(halfCovered);
    EXPECT_NEAR(halfCovered->psnr, 10 * std::log10(255.0 * 255.0 / 20000), 1e-9);
    EXPECT_DOUBLE_EQ(halfCovered->coverage, 0.5);

    // Outside the object nothing counts.
    cv::Mat leftHalf = everywhere.clone();
    leftHalf.colRange(30, 60).setTo(0);
    const auto masked = compareInMask(half, light, leftHalf);
    ASSERT_TRUE(masked);
    EXPECT_TRUE(std::isinf(masked->psnr));
    EXPECT_EQ(masked->coverage, 1);
    EXPECT_EQ(masked->pixels, 40u * 30u);

    EXPECT_FALSE(compareInMask(half, light, cv::Mat(photo.size(), CV_8U, cv::Scalar(0))));
    EXPECT_FALSE(compareInMask(half, light(cv::Rect(0, 0, 30, 40)).clone(), leftHalf));
}

Similarity inverse(const Similarity& s) {
    Similarity result;
    result.scale = 1 / s.scale;
    const auto& r = s.rotation;
    result.rotation = {r[0], r[3], r[6], r[1], r[4], r[7], r[2], r[5], r[8]};
    const Point moved = result.apply(s.translation);
    result.translation = {-moved[0], -moved[1], -moved[2]};
    return result;
}

TEST(ViewQuality, AModelMatchingThePhotoScoresHighAtThePhotosSize) {
    const Mesh truth = fixtures::lumpySolid();
    const engine::TexturedMesh textured = fixtures::texturedOf(truth);
    // The camera six units up the +Z axis, looking at the solid; intrinsics for 320 x 240.
    const std::array<double, 16> pose = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 6, 1};
    const PinholeCamera full(pose, {300, 0, 0, 0, 300, 0, 160, 120, 1}, 320, 240);
    const cv::Mat photo = renderTextured(textured, Similarity{}, full)->colour;

    // The model in a frame of its own, brought back by the alignment.
    const Similarity placed = fixtures::someSimilarity();
    engine::TexturedMesh model = textured;
    for (std::size_t i = 0; i < model.vertexCount(); ++i) {
        const Point p = placed.apply(
            {model.positions[3 * i], model.positions[3 * i + 1], model.positions[3 * i + 2]});
        for (int k = 0; k < 3; ++k) model.positions[3 * i + k] = static_cast<float>(p[k]);
    }
    const Similarity back = inverse(placed);
    const auto good = judgeView(model, back, truth, full, photo);
    ASSERT_TRUE(good) << good.error();
    EXPECT_GT(good->psnr, 45);
    EXPECT_GT(good->coverage, 0.999);
    EXPECT_GT(good->pixels, 8000u);

    // Slightly misplaced, it scores worse and leaves part of the object uncovered.
    Similarity off = back;
    off.translation[0] += 0.1;
    const auto worse = judgeView(model, off, truth, full, photo);
    ASSERT_TRUE(worse);
    EXPECT_LT(worse->psnr, 25);
    EXPECT_LT(worse->coverage, 0.99);

    // A photo shrunk to half: the resized camera still lines up (only the blend of colours at
    // edges differs), where the intrinsics as recorded would not.
    cv::Mat half;
    cv::resize(photo, half, cv::Size(160, 120), 0, 0, cv::INTER_AREA);
    const auto shrunk = judgeView(model, back, truth, full.resized(160, 120), half);
    ASSERT_TRUE(shrunk);
    EXPECT_GT(shrunk->psnr, 22);
    EXPECT_GT(shrunk->coverage, 0.999);
    const PinholeCamera unscaled(pose, {300, 0, 0, 0, 300, 0, 160, 120, 1}, 160, 120);
    const auto misread = judgeView(model, back, truth, unscaled, half);
    ASSERT_TRUE(misread);
    EXPECT_LT(misread->psnr, shrunk->psnr - 10);

    EXPECT_FALSE(judgeView(model, back, truth, full, half));
}

// Without a truth the model is judged inside its own silhouette, through the camera structure
// from motion gave the photo.
TEST(ViewQuality, AModelJudgedByItsOwnSilhouetteCannotGainByShrinking) {
    const engine::TexturedMesh model = fixtures::texturedOf(fixtures::lumpySolid());
    // The photo through a camera six units up +Z as the truth describes it; the same camera
    // as structure from motion gives it.
    const PinholeCamera truthCamera({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 6, 1},
                                    {300, 0, 0, 0, 300, 0, 160, 120, 1}, 320, 240);
    const Rendering photo = *renderTextured(model, Similarity{}, truthCamera);
    const Point eye = {0, 0, 6};
    const auto placed = PinholeCamera::fromWorldToCamera(pelorin::testing::lookingAt(eye), eye,
                                                         {300, 300, 160, 120}, 320, 240);

    const auto same = judgeOwnView(model, placed, photo.colour);
    ASSERT_TRUE(same) << same.error();
    EXPECT_GT(same->psnr, 45);
    EXPECT_GT(same->ssim, 0.99);
    EXPECT_DOUBLE_EQ(same->frameShare, cv::countNonZero(photo.coverage) / (320.0 * 240.0));
    EXPECT_GT(same->frameShare, 0.1);

    // Shrunk a tenth about its centre, it fills less of the frame and its texture no longer
    // lies where the photo's does.
    engine::TexturedMesh shrunk = model;
    Point centre{};
    for (std::size_t i = 0; i < shrunk.positions.size(); ++i)
        centre[i % 3] += shrunk.positions[i] / double(shrunk.vertexCount());
    for (std::size_t i = 0; i < shrunk.positions.size(); ++i)
        shrunk.positions[i] = float(centre[i % 3] + 0.9 * (shrunk.positions[i] - centre[i % 3]));
    const auto smaller = judgeOwnView(shrunk, placed, photo.colour);
    ASSERT_TRUE(smaller) << smaller.error();
    EXPECT_LT(smaller->frameShare, 0.9 * same->frameShare);
    EXPECT_LT(smaller->psnr, same->psnr - 15);
    EXPECT_LT(smaller->ssim, same->ssim - 0.1);

    // The right shape with another part's image: the same silhouette, a worse likeness.
    engine::TexturedMesh repainted = model;
    repainted.groups[0].texture = repainted.groups[1].texture;
    const auto retextured = judgeOwnView(repainted, placed, photo.colour);
    ASSERT_TRUE(retextured);
    EXPECT_DOUBLE_EQ(retextured->frameShare, same->frameShare);
    EXPECT_LT(retextured->psnr, same->psnr - 10);

    const Point behind = {0, 0, -6};
    const auto away = PinholeCamera::fromWorldToCamera(
        pelorin::testing::lookingAt(behind, {0, 0, -12}), behind, {300, 300, 160, 120}, 320, 240);
    const auto nothing = judgeOwnView(model, away, photo.colour);
    ASSERT_FALSE(nothing);
    EXPECT_NE(nothing.error().find("not in view"), std::string::npos) << nothing.error();
    EXPECT_FALSE(judgeOwnView(model, placed.resized(160, 120), photo.colour));
}

}  // namespace
}  // namespace pelorin::evaluation
