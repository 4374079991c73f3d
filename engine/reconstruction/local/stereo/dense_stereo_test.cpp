#include "engine/reconstruction/local/stereo/dense_stereo.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include "engine/reconstruction/local/stereo/depth_fusion.h"

using namespace pelorin::engine;
using namespace pelorin::engine::local;

namespace {

constexpr int width = 320, height = 240;
constexpr double slope = 0.2;  // the plane z = 1 + slope * x, seen by every view

RegisteredView cameraAt(double x) {
    RegisteredView view;
    view.camera = {width, height, 300, 300, width / 2.0, height / 2.0};
    view.centre = {x, 0, 0};
    return view;
}

// Depth of the plane along the view's axis at pixel (px, py), pixel centres at half-integers.
double planeDepth(const RegisteredView& view, double px, double py) {
    const auto& c = view.camera;
    const Vec3 ray = {(px - c.cx) / c.fx, (py - c.cy) / c.fy, 1};
    const double t = (1 + slope * view.centre[0]) / (ray[2] - slope * ray[0]);
    return t * ray[2];
}

// Depth along a view's axis of what it sees at pixel (px, py).
using SceneDepth = double (*)(const RegisteredView&, double px, double py);

// A square board at depth 1 in front of a wall at depth 1.5, both facing the cameras.
constexpr double boardDepth = 1.0, wallDepth = 1.5, boardHalfWidth = 0.15, boardHalfHeight = 0.1;

double boardDepthAt(const RegisteredView& view, double px, double py) {
    const auto& c = view.camera;
    const double x = view.centre[0] + (px - c.cx) / c.fx * boardDepth;
    const double y = (py - c.cy) / c.fy * boardDepth;
    return std::abs(x) < boardHalfWidth && std::abs(y) < boardHalfHeight ? boardDepth : wallDepth;
}

// What a view sees, textured in the world's own x and y (the wall's texture shifted, so that
// the two surfaces do not repeat each other).
cv::Mat render(const RegisteredView& view, const cv::Mat& texture,
               SceneDepth sceneDepth = planeDepth) {
    cv::Mat mapX(height, width, CV_32F), mapY(height, width, CV_32F);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double depth = sceneDepth(view, x + 0.5, y + 0.5);
            const auto& c = view.camera;
            const double wx = view.centre[0] + (x + 0.5 - c.cx) / c.fx * depth;
            const double wy = (y + 0.5 - c.cy) / c.fy * depth;
            const double shift = depth == wallDepth ? 300 : 0;
            mapX.at<float>(y, x) = static_cast<float>(texture.cols / 2 + wx * 400 + shift);
            mapY.at<float>(y, x) = static_cast<float>(texture.rows / 2 + wy * 400);
        }
    }
    cv::Mat image;
    cv::remap(texture, image, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REFLECT);
    return image;
}

cv::Mat noiseTexture() {
    cv::Mat texture(800, 1000, CV_32F);
    cv::RNG random(7);
    random.fill(texture, cv::RNG::UNIFORM, 0, 255);
    cv::GaussianBlur(texture, texture, {0, 0}, 1.5);
    return texture;
}

struct Scene {
    std::vector<StereoView> views;
    std::vector<DepthMap> maps;
};

Scene solvedScene(const StereoOptions& options = {}, SceneDepth sceneDepth = planeDepth) {
    const cv::Mat texture = noiseTexture();
    Scene scene;
    for (double x : {-0.08, 0.0, 0.08}) {
        const auto view = cameraAt(x);
        scene.views.push_back({view, render(view, texture, sceneDepth), {}});
    }
    for (std::size_t i = 0; i < scene.views.size(); ++i) {
        std::vector<StereoView> others;
        for (std::size_t j = 0; j < scene.views.size(); ++j)
            if (j != i) others.push_back(scene.views[j]);
        scene.maps.push_back(computeDepthMap(scene.views[i], others, 0.6, 2.0, options));
    }
    return scene;
}

StereoOptions withLevels(int levels) {
    StereoOptions options;
    options.levels = levels;
    return options;
}

}  // namespace

TEST(DenseStereoTest, FindsASlantedTexturedPlaneWithinAFractionOfAPercent) {
    // One sweep at full size, and refined from coarser sweeps, which must be as sharp.
    for (const int levels : {1, 2, 3}) {
        const Scene scene = solvedScene(withLevels(levels));
        const DepthMap& map = scene.maps[1];
        std::vector<double> errors;
        int interior = 0;
        for (int y = 10; y < height - 10; ++y) {
            for (int x = 40; x < width - 40; ++x) {
                ++interior;
                const float depth = map.depth.at<float>(y, x);
                if (depth <= 0) continue;
                errors.push_back(std::abs(depth - planeDepth(map.view, x + 0.5, y + 0.5)) /
                                 planeDepth(map.view, x + 0.5, y + 0.5));
            }
        }
        EXPECT_GT(errors.size(), 0.85 * interior) << levels << " levels";
        std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
        EXPECT_LT(errors[errors.size() / 2], 0.004) << levels << " levels";
    }
}

TEST(DenseStereoTest, AnEdgeRefinedFromACoarserLevelKeepsBothSides) {
    // A coarse level blurs the board's outline into the wall; the finer level must still put
    // each pixel on the one or the other, not in between.
    for (const int levels : {1, 2, 3}) {
        const Scene scene = solvedScene(withLevels(levels), boardDepthAt);
        const DepthMap& map = scene.maps[1];
        int found = 0, onASurface = 0, rightOne = 0, away = 0;
        for (int y = 20; y < height - 20; ++y) {
            for (int x = 40; x < width - 40; ++x) {
                const float depth = map.depth.at<float>(y, x);
                const double truth = boardDepthAt(map.view, x + 0.5, y + 0.5);
                // Within a few pixels of the outline, the window sees both surfaces.
                const bool nearEdge = boardDepthAt(map.view, x - 5.5, y + 0.5) != truth ||
                                      boardDepthAt(map.view, x + 6.5, y + 0.5) != truth ||
                                      boardDepthAt(map.view, x + 0.5, y - 5.5) != truth ||
                                      boardDepthAt(map.view, x + 0.5, y + 6.5) != truth;
                if (depth <= 0) continue;
                ++found;
                const bool onBoard = std::abs(depth - boardDepth) < 0.01 * boardDepth;
                const bool onWall = std::abs(depth - wallDepth) < 0.01 * wallDepth;
                onASurface += onBoard || onWall;
                if (!nearEdge) {
                    ++away;
                    rightOne += std::abs(depth - truth) < 0.01 * truth;
                }
            }
        }
        EXPECT_GT(found, (height - 40) * (width - 80) * 8 / 10) << levels << " levels";
        EXPECT_GT(rightOne, away * 97 / 100) << levels << " levels";
        EXPECT_GT(onASurface, found * 95 / 100) << levels << " levels";
    }
}

TEST(DenseStereoTest, MasksAndTexturelessPartsGetNoDepth) {
    const cv::Mat texture = noiseTexture();
    StereoView reference{cameraAt(0), render(cameraAt(0), texture), {}};
    reference.grey(cv::Rect(100, 80, 60, 60)).setTo(128);  // flat grey: nothing to match
    reference.mask = cv::Mat(height, width, CV_8U, cv::Scalar(255));
    reference.mask(cv::Rect(0, 0, 50, height)).setTo(0);
    const StereoView other{cameraAt(0.08), render(cameraAt(0.08), texture), {}};
    const auto map = computeDepthMap(reference, {other}, 0.6, 2.0);
    EXPECT_EQ(cv::countNonZero(map.depth(cv::Rect(0, 0, 50, height))), 0);
    EXPECT_EQ(cv::countNonZero(map.depth(cv::Rect(110, 90, 40, 40))), 0);
    EXPECT_GT(cv::countNonZero(map.depth(cv::Rect(200, 60, 60, 120))), 60 * 120 * 8 / 10);
    // No neighbours, or an empty range: nothing, rather than a guess.
    EXPECT_EQ(cv::countNonZero(computeDepthMap(reference, {}, 0.6, 2.0).depth), 0);
    EXPECT_EQ(cv::countNonZero(computeDepthMap(reference, {other}, 2.0, 0.6).depth), 0);
}

TEST(DepthFusionTest, KeepsAgreedDepthsOnTheSurfaceAndDropsADisagreeingView) {
    Scene scene = solvedScene();
    // A fourth view whose depths are all 10% too far: no other view agrees with them.
    scene.maps.push_back({scene.maps[1].view, scene.maps[1].depth * 1.1});
    std::vector<cv::Mat> colours(4, cv::Mat(height, width, CV_8UC3, cv::Scalar(10, 20, 30)));
    std::vector<ViewNeighbours> neighbours = {
        {{1, 2}, 0, 0}, {{0, 2}, 0, 0}, {{0, 1}, 0, 0}, {{0, 2}, 0, 0}};
    const auto points = fuseDepthMaps(scene.maps, colours, neighbours);
    ASSERT_GT(points.size(), 10000u);
    std::size_t off = 0, turned = 0;
    // The plane's normal, facing the cameras (which look along +Z).
    const Vec3 expected = normalized({slope, 0, -1});
    for (const auto& p : points) {
        const double planeZ = 1 + slope * p.position[0];
        if (std::abs(p.position[2] - planeZ) > 0.01 * planeZ) ++off;
        if (dot(p.normal, expected) < 0.9) ++turned;
        EXPECT_GT(dot(p.normal, expected), 0);
        EXPECT_EQ(p.colour, (std::array<std::uint8_t, 3>{30, 20, 10}));
    }
    EXPECT_LT(off, points.size() / 100);
    EXPECT_LT(turned, points.size() / 10);

    FusionOptions onlyLeft;
    onlyLeft.keep = [](const Vec3& p) { return p[0] < 0; };
    for (const auto& p : fuseDepthMaps(scene.maps, colours, neighbours, onlyLeft))
        EXPECT_LT(p.position[0], 0);
}

TEST(DepthFusionTest, AsksOnlyAViewsBestNeighbours) {
    Scene scene = solvedScene();
    // Views 3, 4 and 5 share the same wrong depths. View 3 lists the three right views first and
    // the two that agree with it last; 4 and 5 list only the right views.
    for (int copy = 0; copy < 3; ++copy)
        scene.maps.push_back({scene.maps[1].view, scene.maps[1].depth * 1.1});
    const std::vector<cv::Mat> colours(6, cv::Mat(height, width, CV_8UC3, cv::Scalar(10, 20, 30)));
    const std::vector<ViewNeighbours> neighbours = {{{1, 2}, 0, 0},    {{0, 2}, 0, 0},
                                                    {{0, 1}, 0, 0},    {{0, 1, 2, 4, 5}, 0, 0},
                                                    {{0, 1, 2}, 0, 0}, {{0, 1, 2}, 0, 0}};
    const auto offThePlane = [&](std::size_t asked) {
        FusionOptions options;
        options.checkedNeighbours = asked;
        std::size_t off = 0;
        for (const auto& p : fuseDepthMaps(scene.maps, colours, neighbours, options))
            off += std::abs(p.position[2] - (1 + slope * p.position[0])) > 0.05;
        return off;
    };
    EXPECT_EQ(offThePlane(3), 0u);
    EXPECT_GT(offThePlane(5), 10000u);
}
