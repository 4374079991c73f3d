#include "engine/reconstruction/local/texture/exposure_levelling.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/camera_poses.h"

namespace pelorin::engine::local {
namespace {

// A flat square of 2 x 2 units at z = 0, in 20 x 20 quads.
SurfaceMesh floorTiles() {
    SurfaceMesh mesh;
    constexpr int n = 20;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) mesh.vertices.push_back({2.0 * x / n - 1, 2.0 * y / n - 1, 0});
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const std::uint32_t a = y * (n + 1) + x, b = a + 1, c = a + n + 1, d = c + 1;
            mesh.triangles.push_back({a, b, d});
            mesh.triangles.push_back({a, d, c});
        }
    }
    return mesh;
}

// Photos of one grey-brown floor from four places above it, each with its own exposure.
std::vector<TextureView> photosWithGains(const std::vector<cv::Vec3d>& exposures) {
    const cv::Vec3d floor(120, 100, 80);
    std::vector<TextureView> views;
    for (std::size_t k = 0; k < exposures.size(); ++k) {
        TextureView view;
        const Vec3 eye = {std::cos(k * 1.5), std::sin(k * 1.5), 4};
        view.view.camera = {200, 200, 150, 150, 100, 100};
        view.view.rotation = pelorin::testing::lookingAt(eye);
        view.view.centre = eye;
        const cv::Vec3d colour = floor.mul(exposures[k]);
        view.image = cv::Mat(200, 200, CV_8UC3, cv::Scalar(colour[0], colour[1], colour[2]));
        views.push_back(std::move(view));
    }
    return views;
}

std::vector<std::vector<float>> seenByAll(const SurfaceMesh& mesh, std::size_t views) {
    return std::vector<std::vector<float>>(views, std::vector<float>(mesh.triangles.size(), 1));
}

TEST(ExposureLevelling, PhotosOfOneSurfaceComeOutAlike) {
    const SurfaceMesh mesh = floorTiles();
    const std::vector<cv::Vec3d> exposures = {
        {1, 1, 1}, {0.7, 0.8, 1.0}, {1.2, 1.2, 1.2}, {1.0, 1.1, 0.9}};
    auto views = photosWithGains(exposures);
    // One photo also has something bright in front of a corner of the floor.
    views[0].image(cv::Rect(0, 0, 60, 60)).setTo(cv::Scalar(240, 240, 240));

    const auto gains = exposureGains(mesh, views, seenByAll(mesh, views.size()));
    ASSERT_EQ(gains.size(), views.size());
    applyGains(views, gains);
    const cv::Vec3b levelled = views[1].image.at<cv::Vec3b>(100, 100);
    for (std::size_t v = 0; v < views.size(); ++v) {
        const cv::Vec3b centre = views[v].image.at<cv::Vec3b>(100, 100);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(centre[k], levelled[k], 2) << v << " " << k;
    }
    // The levelled colour is the photos' geometric mean: the capture keeps its brightness.
    for (int k = 0; k < 3; ++k) {
        double product = 1;
        for (const auto& e : exposures) product *= e[k];
        const double expected = cv::Vec3d(120, 100, 80)[k] * std::pow(product, 0.25);
        EXPECT_NEAR(levelled[k], expected, 2) << k;
    }
}

TEST(ExposureLevelling, NothingToCompareLeavesEveryPhotoAsItIs) {
    const SurfaceMesh mesh = floorTiles();
    auto views = photosWithGains({{0.7, 0.8, 1.0}, {1.2, 1.2, 1.2}});
    struct Case {
        const char* what;
        std::vector<std::vector<float>> scores;
    };
    auto apart = seenByAll(mesh, 2);
    for (std::size_t f = 0; f < mesh.triangles.size(); ++f) apart[f % 2][f] = 0;
    const std::size_t faces = mesh.triangles.size();
    const std::vector<Case> cases = {
        {"no face seen twice", apart},
        {"one photo only", {std::vector<float>(faces, 1), std::vector<float>(faces, 0)}},
    };
    for (const auto& c : cases) {
        for (const auto& gain : exposureGains(mesh, views, c.scores))
            EXPECT_EQ(gain, cv::Vec3d(1, 1, 1)) << c.what;
    }
    // Black and blown-out photos tell nothing either.
    auto clipped = photosWithGains({{0.01, 0.01, 0.01}, {3, 3, 3}});
    for (const auto& gain : exposureGains(mesh, clipped, seenByAll(mesh, 2)))
        EXPECT_EQ(gain, cv::Vec3d(1, 1, 1));
}

}  // namespace
}  // namespace pelorin::engine::local
