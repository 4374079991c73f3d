#include "evaluation/seen_surface.h"

#include <gtest/gtest.h>

#include <cmath>

#include "evaluation/model_score.h"
#include "tests/support/camera_poses.h"

namespace pelorin::evaluation {
namespace {

// A camera at `eye` looking at the origin with +Y up, 100 x 100 pixels, focal length 100.
PinholeCamera lookingAtOrigin(const Point& eye) {
    return PinholeCamera::fromWorldToCamera(pelorin::testing::lookingAt(eye), eye,
                                            {100, 100, 50, 50}, 100, 100);
}

// Eight cameras on a ring 4 units out, `degrees` above the horizon.
std::vector<PinholeCamera> ring(double degrees) {
    std::vector<PinholeCamera> cameras;
    const double up = degrees * M_PI / 180;
    for (int k = 0; k < 8; ++k) {
        const double around = k * M_PI / 4 + 0.1;
        cameras.push_back(lookingAtOrigin({4 * std::cos(up) * std::cos(around), 4 * std::sin(up),
                                           4 * std::cos(up) * std::sin(around)}));
    }
    return cameras;
}

// An axis-aligned box, closed, its triangles wound outwards.
Mesh box(const Point& low, const Point& high) {
    Mesh mesh;
    for (int i = 0; i < 8; ++i)
        mesh.vertices.push_back(
            {i & 1 ? high[0] : low[0], i & 2 ? high[1] : low[1], i & 4 ? high[2] : low[2]});
    mesh.triangles = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                      {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
    return mesh;
}

// The triangle of `mesh` that holds point p, which must lie on one.
std::uint32_t triangleHolding(const Mesh& mesh, const Point& p) {
    for (std::uint32_t t = 0; t < mesh.triangles.size(); ++t) {
        const auto& a = mesh.vertices[mesh.triangles[t][0]];
        const auto& b = mesh.vertices[mesh.triangles[t][1]];
        const auto& c = mesh.vertices[mesh.triangles[t][2]];
        // On the triangle's plane and inside its bounding box is enough for boxes.
        bool inside = true;
        for (int i = 0; i < 3; ++i) {
            inside &= p[i] >= std::min({a[i], b[i], c[i]}) - 1e-9 &&
                      p[i] <= std::max({a[i], b[i], c[i]}) + 1e-9;
        }
        const Point u = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const Point v = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const Point n = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                         u[0] * v[1] - u[1] * v[0]};
        const double offPlane = n[0] * (p[0] - a[0]) + n[1] * (p[1] - a[1]) + n[2] * (p[2] - a[2]);
        if (inside && std::abs(offPlane) < 1e-9) return t;
    }
    ADD_FAILURE() << "no triangle holds the point";
    return 0;
}

std::vector<bool> seen(const Mesh& mesh, const std::vector<Point>& points,
                       const std::vector<PinholeCamera>& cameras, const SeenOptions& options = {}) {
    std::vector<std::uint32_t> triangles;
    for (const auto& p : points) triangles.push_back(triangleHolding(mesh, p));
    return seenByPhotos(mesh, points, triangles, cameras, options);
}

TEST(SeenSurface, PhotosFromAboveShowTheTopAndSidesButNotTheUnderside) {
    const Mesh cube = box({-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5});
    const std::vector<Point> points = {{0.1, 0.5, 0.2}, {0.5, 0.1, -0.2}, {0.1, -0.5, 0.2}};
    EXPECT_EQ(seen(cube, points, ring(30)), std::vector<bool>({true, true, false}));
    // Level cameras meet the top edge-on: too oblique to count.
    EXPECT_EQ(seen(cube, points, ring(0)), std::vector<bool>({false, true, false}));
}

TEST(SeenSurface, APointNeedsEnoughPhotosThatItIsNotHiddenIn) {
    // A thin wall stands between the block and a camera on the +X side.
    Mesh scene = box({-0.5, -1, -0.5}, {0.5, 1, 0.5});
    const Mesh wall = box({0.8, -1, -2}, {1.0, 0.8, 2});
    for (const auto& t : wall.triangles) scene.triangles.push_back({t[0] + 8, t[1] + 8, t[2] + 8});
    scene.vertices.insert(scene.vertices.end(), wall.vertices.begin(), wall.vertices.end());
    const Point behindWall = {0.5, -0.5, 0};
    const Point camera = {4, 0, 0.3};
    EXPECT_EQ(seen(scene, {behindWall}, {lookingAtOrigin(camera)}, {.minViews = 1}),
              std::vector<bool>({false}));
    // Without the wall, one photo is enough only when one is asked for.
    const Mesh alone = box({-0.5, -1, -0.5}, {0.5, 1, 0.5});
    EXPECT_EQ(seen(alone, {behindWall}, {lookingAtOrigin(camera)}, {.minViews = 1}),
              std::vector<bool>({true}));
    EXPECT_EQ(seen(alone, {behindWall}, {lookingAtOrigin(camera)}), std::vector<bool>({false}));
}

TEST(SeenSurface, TheScoreJudgesCompletenessOverWhatThePhotosShow) {
    const Mesh cube = box({-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5});
    ScoreOptions options;
    options.photoCameras = ring(30);
    options.samples = 6000;
    const ModelScore itself = scoreModel(cube, cube, options);
    ASSERT_TRUE(itself.seenShare && itself.seenCompleteness);
    // Five of the six faces show.
    EXPECT_NEAR(*itself.seenShare, 5.0 / 6, 0.03);
    EXPECT_DOUBLE_EQ(*itself.seenCompleteness, 1.0);
    // Without cameras there is nothing to say.
    EXPECT_FALSE(scoreModel(cube, cube).seenShare);
}

}  // namespace
}  // namespace pelorin::evaluation
