#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include "engine/formats/obj_reader.h"
#include "engine/formats/obj_writer.h"
#include "engine/reconstruction/local/surface/background_planes.h"
#include "engine/reconstruction/local/surface/mesh_decimation.h"
#include "engine/reconstruction/local/surface/surface_mesh.h"
#include "engine/reconstruction/local/texture/texture_baking.h"
#include "tests/support/camera_poses.h"
#include "tests/support/scratch_folder.h"

using namespace pelorin::engine;
using namespace pelorin::engine::local;

namespace {

// A unit sphere: an octahedron split `levels` times, outward-facing.
SurfaceMesh sphere(int levels) {
    SurfaceMesh mesh;
    mesh.vertices = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    mesh.triangles = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4},
                      {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
    for (int level = 0; level < levels; ++level) {
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> middles;
        auto middle = [&](std::uint32_t a, std::uint32_t b) {
            const auto key = std::make_pair(std::min(a, b), std::max(a, b));
            if (auto found = middles.find(key); found != middles.end()) return found->second;
            mesh.vertices.push_back(normalized(0.5 * (mesh.vertices[a] + mesh.vertices[b])));
            return middles[key] = static_cast<std::uint32_t>(mesh.vertices.size() - 1);
        };
        std::vector<Triangle> split;
        for (const auto& [a, b, c] : mesh.triangles) {
            const auto ab = middle(a, b), bc = middle(b, c), ca = middle(c, a);
            split.insert(split.end(), {{a, ab, ca}, {ab, b, bc}, {ca, bc, c}, {ab, bc, ca}});
        }
        mesh.triangles = std::move(split);
    }
    return mesh;
}

std::map<std::pair<std::uint32_t, std::uint32_t>, int> edgeUses(const SurfaceMesh& mesh) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> uses;
    for (const auto& t : mesh.triangles)
        for (int e = 0; e < 3; ++e)
            ++uses[{std::min(t[e], t[(e + 1) % 3]), std::max(t[e], t[(e + 1) % 3])}];
    return uses;
}

// A camera at `position` looking at `target`, 200x200 pixels.
RegisteredView lookingAt(const Vec3& position, const Vec3& target = {}) {
    RegisteredView view;
    view.camera = {200, 200, 150, 150, 100, 100};
    view.rotation = pelorin::testing::lookingAt(position, target);
    view.centre = position;
    return view;
}

// A scene of boxes and balls that pinhole cameras see: what each pixel's ray meets first,
// with the surface's normal turned to the camera, as fusion gives it.
struct Box {
    Vec3 low, high;
};
struct Ball {
    Vec3 centre;
    double radius;
};
struct Scene {
    std::vector<Box> boxes;
    std::vector<Ball> balls;

    std::optional<DensePoint> hit(const Vec3& from, const Vec3& direction) const {
        double nearest = 1e300;
        Vec3 normal{};
        for (const auto& box : boxes) {
            double enter = 0, leave = 1e300;
            int axis = -1;
            for (int a = 0; a < 3; ++a) {
                if (std::abs(direction[a]) < 1e-12) {
                    if (from[a] < box.low[a] || from[a] > box.high[a]) enter = 1e300;
                    continue;
                }
                double t0 = (box.low[a] - from[a]) / direction[a];
                double t1 = (box.high[a] - from[a]) / direction[a];
                if (t0 > t1) std::swap(t0, t1);
                if (t0 > enter) enter = t0, axis = a;
                leave = std::min(leave, t1);
            }
            if (axis >= 0 && enter <= leave && enter < nearest) {
                nearest = enter;
                normal = {};
                normal[axis] = direction[axis] > 0 ? -1 : 1;
            }
        }
        for (const auto& ball : balls) {
            const Vec3 offset = from - ball.centre;
            const double b = dot(offset, direction);
            const double disc = b * b - dot(offset, offset) + ball.radius * ball.radius;
            if (disc < 0) continue;
            const double t = -b - std::sqrt(disc);
            if (t > 0 && t < nearest) {
                nearest = t;
                normal = normalized(from + t * direction - ball.centre);
            }
        }
        if (nearest >= 1e300) return std::nullopt;
        return DensePoint{from + nearest * direction, normal, {128, 128, 128}};
    }

    // What the cameras see, `side` rays across each photo.
    std::vector<DensePoint> seenBy(const std::vector<RegisteredView>& views, int side = 120) const {
        std::vector<DensePoint> points;
        for (const auto& view : views) {
            for (int y = 0; y < side; ++y) {
                for (int x = 0; x < side; ++x) {
                    const auto& c = view.camera;
                    const Vec3 inCamera = {((x + 0.5) * c.width / side - c.cx) / c.fx,
                                           ((y + 0.5) * c.height / side - c.cy) / c.fy, 1};
                    const Vec3 direction = normalized(transposed(view.rotation) * inCamera);
                    if (auto point = hit(view.centre, direction)) points.push_back(*point);
                }
            }
        }
        return points;
    }
};

std::vector<Vec3> centres(const std::vector<RegisteredView>& views) {
    std::vector<Vec3> result;
    for (const auto& view : views) result.push_back(view.centre);
    return result;
}

// Cameras on an arc of `degrees` around the vertical through `target`, `distance` away and
// `height` above it, the arc's middle along +z.
std::vector<RegisteredView> arc(const Vec3& target, double distance, double height, double degrees,
                                int count, double middle = 0) {
    std::vector<RegisteredView> views;
    for (int i = 0; i < count; ++i) {
        const double a = (middle + degrees * (double(i) / (count - 1) - 0.5)) * M_PI / 180;
        views.push_back(lookingAt(
            target + Vec3{distance * std::sin(a), height, distance * std::cos(a)}, target));
    }
    return views;
}

// The atlas's colour at the middle of face `f`'s texture.
cv::Vec3b texelOf(const BakedModel& baked, std::size_t f) {
    double u = 0, v = 0;
    for (const auto& uv : baked.texcoords[f]) u += uv[0] / 3, v += uv[1] / 3;
    return baked.atlas.at<cv::Vec3b>(int((1 - v) * baked.atlas.rows), int(u * baked.atlas.cols));
}

std::size_t countWhere(const std::vector<DensePoint>& points,
                       const std::function<bool(const Vec3&)>& where) {
    return std::size_t(std::count_if(points.begin(), points.end(),
                                     [&](const DensePoint& p) { return where(p.position); }));
}

}  // namespace

TEST(MeshDecimationTest, MeetsTheBudgetAndKeepsAClosedSphereRound) {
    struct Case {
        int subdivisions;
        std::size_t budget;
        unsigned threads;  // two cut a large sphere in halves, which must meet again
    };
    for (const Case c : {Case{5, 1000, 1}, Case{5, 1000, 2}, Case{8, 20000, 2}}) {
        const SurfaceMesh fine = sphere(c.subdivisions);  // 8192 * 4^(n - 5) triangles
        const SurfaceMesh coarse = decimate(fine, c.budget, {}, c.threads);
        const std::string name = std::to_string(fine.triangles.size()) + " triangles, " +
                                 std::to_string(c.threads) + " threads";
        EXPECT_LE(coarse.triangles.size(), c.budget) << name;
        EXPECT_GE(coarse.triangles.size(), c.budget * 9 / 10) << name;
        double farthest = 0;
        for (const auto& v : coarse.vertices) farthest = std::max(farthest, std::abs(norm(v) - 1));
        EXPECT_LT(farthest, 0.01) << name;
        std::size_t open = 0, turned = 0;
        for (const auto& [edge, uses] : edgeUses(coarse)) open += uses != 2;  // still closed
        for (const auto& t : coarse.triangles) {
            const Vec3 n = cross(coarse.vertices[t[1]] - coarse.vertices[t[0]],
                                 coarse.vertices[t[2]] - coarse.vertices[t[0]]);
            turned += dot(n, coarse.vertices[t[0]]) <= 0;
        }
        EXPECT_EQ(open, 0u) << name;
        EXPECT_EQ(turned, 0u) << name;
        EXPECT_EQ(decimate(fine, fine.triangles.size(), {}, c.threads).triangles.size(),
                  fine.triangles.size());
    }
}

TEST(MeshDecimationTest, AStopLeavesTheWorkUnfinished) {
    std::stop_source source;
    source.request_stop();
    // 32768 triangles need some 16,000 collapses to get under 1000.
    EXPECT_GT(decimate(sphere(6), 1000, source.get_token()).triangles.size(), 16000u);
}

TEST(MeshDecimationTest, KeepsTheOutlineOfAnOpenSheet) {
    SurfaceMesh sheet;
    const int n = 40;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) sheet.vertices.push_back({double(x) / n, double(y) / n, 0});
    for (std::uint32_t y = 0; y < n; ++y) {
        for (std::uint32_t x = 0; x < n; ++x) {
            const std::uint32_t a = y * (n + 1) + x, b = a + 1, c = a + n + 1, d = c + 1;
            sheet.triangles.push_back({a, b, d});
            sheet.triangles.push_back({a, d, c});
        }
    }
    const SurfaceMesh coarse = decimate(sheet, 200);
    EXPECT_LE(coarse.triangles.size(), 200u);
    double area = 0;
    for (const auto& t : coarse.triangles)
        area += 0.5 * norm(cross(coarse.vertices[t[1]] - coarse.vertices[t[0]],
                                 coarse.vertices[t[2]] - coarse.vertices[t[0]]));
    EXPECT_NEAR(area, 1.0, 1e-6);
}

TEST(SurfaceCleanupTest, KeepsTheLargestPieceInsideTheRegion) {
    SurfaceMesh two = sphere(2);
    SurfaceMesh small = sphere(1);
    const auto offset = static_cast<std::uint32_t>(two.vertices.size());
    for (const auto& v : small.vertices) two.vertices.push_back(v + Vec3{5, 0, 0});
    for (const auto& t : small.triangles)
        two.triangles.push_back({t[0] + offset, t[1] + offset, t[2] + offset});
    const SurfaceMesh largest = largestComponent(two);
    EXPECT_EQ(largest.triangles.size(), sphere(2).triangles.size());
    for (const auto& v : largest.vertices) EXPECT_LT(v[0], 2);
    const SurfaceMesh upper = keepInside(sphere(3), [](const Vec3& p) { return p[1] > 0; });
    EXPECT_FALSE(upper.triangles.empty());
    for (const auto& v : upper.vertices) EXPECT_GT(v[1], 0);
}

TEST(TextureBakingTest, EachSideTakesThePhotoThatFacesItAndTheObjReadsBack) {
    // A sphere seen by four cameras around it, each photo one flat colour.
    const SurfaceMesh ball = sphere(3);
    const std::vector<std::pair<Vec3, cv::Scalar>> cameras = {{{4, 0, 0}, {0, 0, 255}},
                                                              {{-4, 0, 0}, {0, 255, 0}},
                                                              {{0, 0, 4}, {255, 0, 0}},
                                                              {{0, 0, -4}, {0, 255, 255}}};
    std::vector<TextureView> views;
    for (const auto& [position, colour] : cameras)
        views.push_back({lookingAt(position), cv::Mat(200, 200, CV_8UC3, colour)});
    BakeOptions options;
    options.atlasSize = 512;
    const BakedModel baked = bakeTexture(ball, views, options);
    ASSERT_EQ(baked.texcoords.size(), ball.triangles.size());
    ASSERT_EQ(baked.atlas.rows, 512);
    int checked = 0;
    for (std::size_t f = 0; f < ball.triangles.size(); ++f) {
        const Vec3 c =
            (1.0 / 3) * (ball.vertices[ball.triangles[f][0]] + ball.vertices[ball.triangles[f][1]] +
                         ball.vertices[ball.triangles[f][2]]);
        for (const auto& [position, colour] : cameras) {
            // Faces squarely in front of one camera show its colour.
            if (dot(normalized(c), normalized(position)) < 0.95) continue;
            const auto got = texelOf(baked, f);
            EXPECT_EQ(got, cv::Vec3b(colour[0], colour[1], colour[2])) << f;
            ++checked;
        }
        if (std::abs(normalized(c)[1]) > 0.97) {
            EXPECT_EQ(texelOf(baked, f), cv::Vec3b(128, 128, 128));  // the poles: seen by none
        }
    }
    EXPECT_GT(checked, 20);

    pelorin::testing::ScratchFolder folder;
    auto textured = texturedMesh(baked);
    ASSERT_TRUE(textured);
    ASSERT_TRUE(pelorin::engine::ObjWriter::write(*textured, folder.path()));
    auto read = pelorin::engine::ObjReader::readObjFolder(folder.path());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->vertexCount(), 3 * ball.triangles.size());
    ASSERT_EQ(read->groups.size(), 1u);
    EXPECT_TRUE(read->groups[0].texture.has_value());
    EXPECT_TRUE(read->hasNormals);
    EXPECT_TRUE(read->hasTexcoords);

    // Stopped, it hands back no atlas, so nothing unfinished can be written as a model.
    std::stop_source source;
    source.request_stop();
    const BakedModel stopped = bakeTexture(ball, views, options, source.get_token());
    EXPECT_TRUE(stopped.atlas.empty());
    EXPECT_FALSE(texturedMesh(stopped));
}

// Each scene: what must go, what must stay, and how much of what must stay may be lost.
TEST(BackgroundRemovalTest, PlanesBehindAndUnderTheObjectGoAndTheObjectStays) {
    struct Case {
        const char* name;
        Scene scene;
        std::vector<RegisteredView> views;
        std::function<bool(const Vec3&)> object;      // points that must stay
        std::function<bool(const Vec3&)> background;  // points that must go
        int planes;                                   // planes removed
    };
    const auto onBall = [](const Ball& ball) {
        return [ball](const Vec3& p) { return norm(p - ball.centre) < ball.radius + 0.01; };
    };
    const Ball mounted{{0, 0, -0.35}, 0.5};
    const Box wall{{-2, -2, -1.02}, {2, 2, -1}};
    // A rod reaching out of the object along the wall, 0.14 in front of it.
    const Box rod{{0.2, -0.03, -0.88}, {1.5, 0.03, -0.84}};
    const Ball onTable{{0, -0.05, 0}, 0.4};
    const std::vector<Case> cases = {
        {"an object in front of a wall",
         {{wall}, {mounted}},
         arc({0, 0, -0.35}, 3, 0.5, 100, 12),
         onBall(mounted),
         [](const Vec3& p) { return p[2] < -0.95; },
         1},
        {"an object on a table in a room corner",
         {{{{-3, -1.5, -3}, {3, -1.48, 3}},
           {{-3, -1.5, -3}, {-2.98, 2, 3}},
           {{-3, -1.5, -3}, {3, 2, -2.98}},
           {{-1.2, -0.5, -1.2}, {1.2, -0.45, 1.2}}},
          {onTable}},
         arc({0, 0, 0}, 2.5, 1.2, 80, 12, 45),
         onBall(onTable),
         // The table's top, the floor and the walls; its thin edges may stay.
         [](const Vec3& p) {
             const bool top =
                 std::abs(p[1] + 0.45) < 0.005 && std::abs(p[0]) < 1.19 && std::abs(p[2]) < 1.19;
             return top || p[1] < -1.4 || p[0] < -2.9 || p[2] < -2.9;
         },
         4},
        {"an object with a thin part near the wall",
         {{wall, rod}, {mounted}},
         arc({0, 0, -0.35}, 3, 0.5, 100, 12),
         [&](const Vec3& p) {
             return onBall(mounted)(p) ||
                    (p[0] > 0.6 && std::abs(p[1]) < 0.04 && p[2] > -0.9 && p[2] < -0.83);
         },
         [](const Vec3& p) { return p[2] < -0.95; },
         1},
    };
    for (const auto& c : cases) {
        std::vector<DensePoint> points = c.scene.seenBy(c.views);
        const std::size_t object = countWhere(points, c.object);
        ASSERT_GT(object, 1000u) << c.name;
        ASSERT_GT(countWhere(points, c.background), 1000u) << c.name;
        EXPECT_EQ(removeBackground(points, centres(c.views)), c.planes) << c.name;
        EXPECT_GE(countWhere(points, c.object), std::size_t(0.97 * double(object))) << c.name;
        EXPECT_LE(countWhere(points, c.background), std::size_t(0.002 * double(points.size())))
            << c.name;
    }
}

// A plane nothing compact stands out of is the capture itself; a plane with the object's own
// body behind it runs through the object. Either way everything stays.
TEST(BackgroundRemovalTest, APlaneThatIsTheCaptureOrRunsThroughTheObjectStays) {
    struct Case {
        const char* name;
        Scene scene;
        std::vector<RegisteredView> views;
    };
    Scene relief;
    relief.boxes = {{{-2, -2, -1.02}, {2, 2, -1}}};
    for (double x : {-1.2, 0.0, 1.2})
        for (double y : {-1.0, 0.3})
            relief.balls.push_back({{x, y, -1.25}, 0.35});  // standing 0.1 out of the wall
    // A trunk seen from one side: a flat carved face on its round body, a stub out of the face.
    Scene trunk;
    trunk.boxes = {{{-0.5, -0.5, -0.35}, {0.5, 0.5, -0.3}}};
    trunk.balls = {{{0, 0, -1.3}, 1.0}, {{0, 0, -0.2}, 0.2}};
    const std::vector<Case> cases = {
        {"a nearly planar relief", relief, arc({0, 0, -1}, 3, 0.3, 60, 8)},
        {"a plane through the object", trunk, arc({0, 0, -0.6}, 3, 0.3, 90, 10)},
    };
    for (const auto& c : cases) {
        std::vector<DensePoint> points = c.scene.seenBy(c.views);
        const std::size_t before = points.size();
        EXPECT_EQ(removeBackground(points, centres(c.views)), 0) << c.name;
        EXPECT_GE(points.size(), std::size_t(0.995 * double(before))) << c.name;
    }
}

// Faces wound away from the photos, as a surface seen from one side may come: the photos
// still texture what they see, on an open relief as on a closed object.
TEST(TextureBakingTest, WhatThePhotosSeeIsTexturedOnOpenAndClosedSurfaces) {
    SurfaceMesh relief;
    const int n = 40;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            const double u = 2.0 * x / n - 1, v = 2.0 * y / n - 1;
            relief.vertices.push_back({u, v, 0.1 * std::sin(3 * u) * std::cos(2 * v)});
        }
    for (std::uint32_t y = 0; y < n; ++y)
        for (std::uint32_t x = 0; x < n; ++x) {
            const std::uint32_t a = y * (n + 1) + x, b = a + 1, c = a + n + 1, d = c + 1;
            relief.triangles.push_back({a, d, b});  // facing -z, away from the cameras
            relief.triangles.push_back({a, c, d});
        }
    SurfaceMesh inverted = sphere(3);
    for (auto& t : inverted.triangles) std::swap(t[1], t[2]);
    std::vector<RegisteredView> front, around;
    for (double x : {-1.5, 0.0, 1.5}) front.push_back(lookingAt({x, 0.5, 4}));
    for (const Vec3& p :
         std::vector<Vec3>{{4, 0, 0}, {-4, 0, 0}, {0, 0, 4}, {0, 0, -4}, {0, 4, 0.1}, {0, -4, 0.1}})
        around.push_back(lookingAt(p));
    struct Case {
        SurfaceMesh mesh;
        std::vector<RegisteredView> cameras;
        bool open;
    };
    const std::vector<Case> cases = {
        {relief, front, true}, {sphere(3), around, false}, {inverted, around, false}};
    for (const auto& [mesh, cameras, open] : cases) {
        std::vector<TextureView> views;
        for (const auto& camera : cameras)
            views.push_back({camera, cv::Mat(200, 200, CV_8UC3, cv::Scalar(20, 200, 90))});
        BakeOptions options;
        options.atlasSize = 1024;
        const BakedModel baked = bakeTexture(mesh, views, options);
        // Seen: some photo has the face in its frame, squarely enough, nothing in between.
        double seen = 0, textured = 0;
        for (std::size_t f = 0; f < mesh.triangles.size(); ++f) {
            const auto& t = baked.mesh.triangles[f];
            const Vec3 a = baked.mesh.vertices[t[0]], b = baked.mesh.vertices[t[1]],
                       c = baked.mesh.vertices[t[2]];
            const Vec3 middle = (1.0 / 3) * (a + b + c);
            const Vec3 normal = cross(b - a, c - a);
            bool visible = false;
            for (const auto& camera : cameras) {
                const Vec3 p = camera.project(middle);
                const Vec3 toCamera = normalized(camera.centre - middle);
                if (p[2] > 0 && p[0] > 2 && p[1] > 2 && p[0] < 198 && p[1] < 198 &&
                    std::abs(dot(normalized(normal), toCamera)) > 0.3 &&
                    (open || dot(normalized(middle), toCamera) > 0.3))
                    visible = true;
            }
            if (!visible) continue;
            const double area = 0.5 * norm(normal);
            seen += area;
            const auto texel = texelOf(baked, f);
            if (texel == cv::Vec3b(20, 200, 90)) textured += area;
            // Turned towards the photos that see it, so that a renderer shows its front.
            EXPECT_GT(open ? dot(normal, cameras[1].centre - middle) : dot(normal, middle), 0) << f;
        }
        ASSERT_GT(seen, 0);
        EXPECT_GE(textured / seen, 0.95) << mesh.triangles.size();
    }
}

TEST(TextureBakingTest, APhotoThatShowsSomethingElseOnAFaceIsLeftOutOfIt) {
    // Five photos of a sphere's front, all grey but one, which shows something red in front of
    // the surface that the surface lacks: the front takes the grey the others agree on, whether
    // the odd photo is the one that sees it best or not.
    const SurfaceMesh ball = sphere(3);
    const std::vector<RegisteredView> cameras = arc({}, 4, 0, 50, 5);
    for (const std::size_t odd : {std::size_t(2), std::size_t(1)}) {
        std::vector<TextureView> views;
        for (std::size_t c = 0; c < cameras.size(); ++c) {
            const cv::Scalar colour = c == odd ? cv::Scalar(0, 0, 255) : cv::Scalar(90, 90, 90);
            views.push_back({cameras[c], cv::Mat(200, 200, CV_8UC3, colour)});
        }
        BakeOptions options;
        options.atlasSize = 512;
        options.levelExposure = false;
        const BakedModel baked = bakeTexture(ball, views, options);
        int checked = 0;
        for (std::size_t f = 0; f < ball.triangles.size(); ++f) {
            const auto& t = ball.triangles[f];
            const Vec3 c =
                (1.0 / 3) * (ball.vertices[t[0]] + ball.vertices[t[1]] + ball.vertices[t[2]]);
            if (normalized(c)[2] < 0.95) continue;
            const cv::Vec3b texel = texelOf(baked, f);
            EXPECT_LE(cv::norm(cv::Vec3d(texel) - cv::Vec3d(90, 90, 90)), 3.0) << odd << " " << f;
            ++checked;
        }
        EXPECT_GT(checked, 10);
    }
}
