#include "engine/reconstruction/local/surface/seen_through.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/camera_poses.h"

using namespace pelorin::engine;
using namespace pelorin::engine::local;

namespace {

// A square sheet of constant z, facing the cameras.
struct Sheet {
    double z, half;
};

constexpr Sheet wall{10, 8};
constexpr Sheet flapInFront{6, 1};
// The flap as the maps find it: a little larger, so that its mesh's edges lie inside it.
constexpr Sheet flapFound{6, 1.05};
constexpr Sheet sheetBehind{14, 1};

// Five cameras in a row at z = 0 looking at the wall's middle, 120 px square.
std::vector<RegisteredView> row() {
    std::vector<RegisteredView> views;
    for (int i = 0; i < 5; ++i) {
        RegisteredView view;
        view.id = i;
        view.camera = {120, 120, 100, 100, 60, 60};
        view.centre = {0.5 * (i - 2), 0, 0};
        view.rotation = pelorin::testing::lookingAt(view.centre, {0, 0, wall.z});
        views.push_back(view);
    }
    return views;
}

// Each view's depth map of the sheets, by casting each pixel's ray.
DepthMap depthOf(const RegisteredView& view, const std::vector<Sheet>& sheets) {
    DepthMap map{view, cv::Mat(view.camera.height, view.camera.width, CV_32F, cv::Scalar(0))};
    const Mat3 toWorld = transposed(view.rotation);
    for (int y = 0; y < map.depth.rows; ++y) {
        for (int x = 0; x < map.depth.cols; ++x) {
            const auto& c = view.camera;
            // In camera space the ray's z is 1, so its length to a hit is the depth.
            const Vec3 ray = toWorld * Vec3{(x + 0.5 - c.cx) / c.fx, (y + 0.5 - c.cy) / c.fy, 1};
            double nearest = std::numeric_limits<double>::max();
            for (const auto& sheet : sheets) {
                const double t = (sheet.z - view.centre[2]) / ray[2];
                const Vec3 hit = view.centre + t * ray;
                if (t > 0 && std::abs(hit[0]) <= sheet.half && std::abs(hit[1]) <= sheet.half)
                    nearest = std::min(nearest, t);
            }
            if (nearest < std::numeric_limits<double>::max()) map.depth.at<float>(y, x) = nearest;
        }
    }
    return map;
}

SurfaceMesh grid(const Sheet& sheet, int cells = 8) {
    SurfaceMesh mesh;
    for (int j = 0; j <= cells; ++j)
        for (int i = 0; i <= cells; ++i)
            mesh.vertices.push_back(
                {sheet.half * (2.0 * i / cells - 1), sheet.half * (2.0 * j / cells - 1), sheet.z});
    for (int j = 0; j < cells; ++j) {
        for (int i = 0; i < cells; ++i) {
            const auto a = std::uint32_t(j * (cells + 1) + i), b = a + 1, c = a + cells + 1;
            mesh.triangles.push_back({a, b, c + 1});
            mesh.triangles.push_back({a, c + 1, c});
        }
    }
    return mesh;
}

// Each view's neighbours, the nearest first, as stereo would choose them in a row.
std::vector<ViewNeighbours> nearestFirst(const std::vector<RegisteredView>& views) {
    std::vector<ViewNeighbours> result(views.size());
    for (std::size_t i = 0; i < views.size(); ++i) {
        for (std::size_t j = 0; j < views.size(); ++j)
            if (j != i) result[i].neighbours.push_back(j);
        std::sort(result[i].neighbours.begin(), result[i].neighbours.end(), [&](auto a, auto b) {
            return norm(views[a].centre - views[i].centre) <
                   norm(views[b].centre - views[i].centre);
        });
    }
    return result;
}

// Depths far behind the flap, where it would be seen, as a map's stray mismatches give them:
// each view's at its own depth, so that no two maps find the same point.
void strayBehind(DepthMap& map, const Sheet& sheet, float depth) {
    const Vec3 low = map.view.project({-sheet.half, -sheet.half, sheet.z});
    const Vec3 high = map.view.project({sheet.half, sheet.half, sheet.z});
    const int margin = 3;
    const cv::Rect box(
        cv::Point(int(std::min(low[0], high[0])) - margin, int(std::min(low[1], high[1])) - margin),
        cv::Point(int(std::max(low[0], high[0])) + margin + 1,
                  int(std::max(low[1], high[1])) + margin + 1));
    map.depth(box & cv::Rect(0, 0, map.depth.cols, map.depth.rows)).setTo(depth);
}

// The views' depth maps of `sheets`; the first `straying` hold stray far depths where the flap
// is instead, each at its own depth, so that no two maps find the same point, and the next
// `blank` nothing there.
std::vector<DepthMap> mapsOf(const std::vector<RegisteredView>& views,
                             const std::vector<Sheet>& sheets, std::size_t straying = 0,
                             std::size_t blank = 0) {
    std::vector<DepthMap> maps;
    for (std::size_t i = 0; i < views.size(); ++i) {
        maps.push_back(depthOf(views[i], sheets));
        if (i < straying)
            strayBehind(maps.back(), flapInFront, float(30 + 5 * i));
        else if (i < straying + blank)
            strayBehind(maps.back(), flapInFront, 0);
    }
    return maps;
}

TEST(SeenThroughTest, SurfaceTheDepthMapsSeeThroughGoesAndWhatTheyFindStays) {
    const auto views = row();
    const auto neighbours = nearestFirst(views);
    const auto seeingTheWall = mapsOf(views, {wall});
    const auto seeingTheFlap = mapsOf(views, {flapFound, wall});
    const auto seeingTheFlapsEdges = mapsOf(views, {flapInFront, wall});
    const auto fourSeePast = mapsOf(views, {flapFound, wall}, 4);
    const auto oneSeesPast = mapsOf(views, {flapFound, wall}, 1);
    const auto oneSeesPastNoneFinds = mapsOf(views, {flapFound, wall}, 1, 4);
    const auto twoSeePastThreeFind = mapsOf(views, {flapFound, wall}, 2);
    const auto twoSeePastOneFinds = mapsOf(views, {flapFound, wall}, 2, 2);
    struct Case {
        std::string name;
        Sheet surface;
        float support;  // of every vertex
        const std::vector<DepthMap>& maps;
        double keptShare;
    };
    const float invented = 2, measured = 10;
    const std::vector<Case> cases = {
        {"the wall the maps find", wall, measured, seeingTheWall, 1},
        {"an invented flap in front of the wall", flapInFront, invented, seeingTheWall, 0},
        {"a measured flap in front of the wall", flapInFront, measured, seeingTheWall, 0},
        {"a sheet behind the wall", sheetBehind, invented, seeingTheWall, 1},
        {"a flap the maps find", flapInFront, invented, seeingTheFlap, 1},
        {"a flap whose edges lie on the pixels beside it", flapInFront, invented,
         seeingTheFlapsEdges, 1},
        {"an invented flap four maps see past", flapInFront, invented, fourSeePast, 0},
        {"a measured flap four maps see past to stray depths", flapInFront, measured, fourSeePast,
         1},
        {"an invented flap one map sees past", flapInFront, invented, oneSeesPast, 1},
        {"an invented flap one map sees past and no other finds", flapInFront, invented,
         oneSeesPastNoneFinds, 1},
        {"an invented flap two maps see past and three find", flapInFront, invented,
         twoSeePastThreeFind, 1},
        {"an invented flap two maps see past and one finds", flapInFront, invented,
         twoSeePastOneFinds, 0},
    };
    for (const auto& c : cases) {
        const SurfaceMesh mesh = grid(c.surface);
        const std::vector<float> support(mesh.vertices.size(), c.support);
        const SurfaceMesh kept = removeSeenThrough(mesh, support, c.maps, neighbours);
        EXPECT_EQ(kept.vertices.size(), mesh.vertices.size()) << c.name;
        EXPECT_NEAR(double(kept.triangles.size()) / mesh.triangles.size(), c.keptShare, 1e-9)
            << c.name;
    }
}

TEST(SeenThroughTest, PointsInFrontOfWhatTheMapsSeeAreTheOnesSeenThrough) {
    const auto views = row();
    const std::vector<Vec3> points = {{0, 0, wall.z},   {0.3, -0.2, wall.z}, {0, 0, 6},
                                      {0.3, -0.2, 9.5}, {0, 0, 14},          {0, 0, 9.95}};
    const std::vector<bool> expected = {false, false, true, true, false, false};
    EXPECT_EQ(seenThrough(points, {}, mapsOf(views, {wall}), nearestFirst(views)), expected);
}

TEST(SeenThroughTest, WithoutSupportEveryVertexCountsAsMeasured) {
    const auto views = row();
    const SurfaceMesh flap = grid(flapInFront);
    EXPECT_EQ(removeSeenThrough(flap, {}, mapsOf(views, {flapFound, wall}, 4), nearestFirst(views))
                  .triangles.size(),
              flap.triangles.size());
    EXPECT_TRUE(
        removeSeenThrough(flap, {}, mapsOf(views, {wall}), nearestFirst(views)).triangles.empty());
}

}  // namespace
