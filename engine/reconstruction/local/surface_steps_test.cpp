#include <map>
#include <stop_token>

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include "engine/formats/obj_reader.h"
#include "engine/reconstruction/local/surface/mesh_decimation.h"
#include "engine/reconstruction/local/surface/surface_mesh.h"
#include "engine/reconstruction/local/texture/texture_baking.h"
#include "tests/support/scratch_folder.h"

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

// A camera at `position` looking at the origin, 200x200 pixels.
RegisteredView lookingAtOrigin(const Vec3& position) {
    RegisteredView view;
    view.camera = {200, 200, 150, 150, 100, 100};
    const Vec3 forward = normalized(-1.0 * position);
    const Vec3 helper = std::abs(forward[1]) < 0.9 ? Vec3{0, 1, 0} : Vec3{1, 0, 0};
    const Vec3 right = normalized(cross(helper, forward));
    const Vec3 down = cross(forward, right);
    view.rotation = {right[0], right[1],   right[2],   down[0],   down[1],
                     down[2],  forward[0], forward[1], forward[2]};
    view.centre = position;
    return view;
}

}  // namespace

TEST(MeshDecimationTest, MeetsTheBudgetAndKeepsAClosedSphereRound) {
    const SurfaceMesh fine = sphere(5);  // 8192 triangles
    const SurfaceMesh coarse = decimate(fine, 1000);
    EXPECT_LE(coarse.triangles.size(), 1000u);
    EXPECT_GE(coarse.triangles.size(), 900u);
    for (const auto& v : coarse.vertices) EXPECT_NEAR(norm(v), 1.0, 0.01);
    for (const auto& [edge, uses] : edgeUses(coarse)) EXPECT_EQ(uses, 2);  // still closed
    for (const auto& t : coarse.triangles) {
        const Vec3 n = cross(coarse.vertices[t[1]] - coarse.vertices[t[0]],
                             coarse.vertices[t[2]] - coarse.vertices[t[0]]);
        EXPECT_GT(dot(n, coarse.vertices[t[0]]), 0);  // none turned over
    }
    EXPECT_EQ(decimate(fine, 10000).triangles.size(), fine.triangles.size());
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
        views.push_back({lookingAtOrigin(position), cv::Mat(200, 200, CV_8UC3, colour)});
    BakeOptions options;
    options.atlasSize = 512;
    const BakedModel baked = bakeTexture(ball, views, options);
    ASSERT_EQ(baked.texcoords.size(), ball.triangles.size());
    ASSERT_EQ(baked.atlas.rows, 512);
    auto colourAt = [&](std::size_t f) {
        double u = 0, v = 0;
        for (const auto& uv : baked.texcoords[f]) u += uv[0] / 3, v += uv[1] / 3;
        return baked.atlas.at<cv::Vec3b>(int((1 - v) * 512), int(u * 512));
    };
    int checked = 0;
    for (std::size_t f = 0; f < ball.triangles.size(); ++f) {
        const Vec3 c =
            (1.0 / 3) * (ball.vertices[ball.triangles[f][0]] + ball.vertices[ball.triangles[f][1]] +
                         ball.vertices[ball.triangles[f][2]]);
        for (const auto& [position, colour] : cameras) {
            // Faces squarely in front of one camera show its colour.
            if (dot(normalized(c), normalized(position)) < 0.95) continue;
            const auto got = colourAt(f);
            EXPECT_EQ(got, cv::Vec3b(colour[0], colour[1], colour[2])) << f;
            ++checked;
        }
        if (std::abs(normalized(c)[1]) > 0.97) {
            EXPECT_EQ(colourAt(f), cv::Vec3b(128, 128, 128));  // the poles: seen by none
        }
    }
    EXPECT_GT(checked, 20);

    pelorin::testing::ScratchFolder folder;
    ASSERT_TRUE(writeObjFolder(baked, folder.path()));
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
    EXPECT_FALSE(writeObjFolder(stopped, folder.path() / "stopped"));
}
