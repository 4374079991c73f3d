#include "bench/evaluation/model_score.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/support/scratch_folder.h"

namespace pelorin::evaluation {
namespace {

// A closed, lumpy, asymmetric solid about 2.5 units across: no rotation maps it onto itself.
Mesh lumpySolid(double offset = 0) {
    const int rings = 48, segments = 96;
    auto radius = [](double theta, double phi) {
        return 1 + 0.25 * std::sin(3 * phi) * std::sin(theta) * std::sin(theta) +
               0.15 * std::cos(2 * theta) +
               0.3 * std::exp(-((phi - 1) * (phi - 1) + (theta - 1) * (theta - 1)) / 0.1);
    };
    Mesh mesh;
    std::vector<Point> normals;
    for (int r = 0; r <= rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            const double theta = std::numbers::pi * r / rings,
                         phi = 2 * std::numbers::pi * s / segments;
            const double k = radius(theta, phi);
            const Point direction = {std::sin(theta) * std::cos(phi), std::cos(theta),
                                     std::sin(theta) * std::sin(phi)};
            mesh.vertices.push_back({k * direction[0], 1.3 * k * direction[1], k * direction[2]});
        }
    }
    for (int r = 0; r < rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            const std::uint32_t a = r * segments + s, b = r * segments + (s + 1) % segments;
            const std::uint32_t c = a + segments, d = b + segments;
            mesh.triangles.push_back({a, c, b});
            mesh.triangles.push_back({b, c, d});
        }
    }
    if (offset != 0) {
        // Move every vertex along its normal (the mean of its faces' normals).
        std::vector<Point> sum(mesh.vertices.size(), Point{});
        for (const auto& t : mesh.triangles) {
            const auto& p0 = mesh.vertices[t[0]];
            const Point u = {mesh.vertices[t[1]][0] - p0[0], mesh.vertices[t[1]][1] - p0[1],
                             mesh.vertices[t[1]][2] - p0[2]};
            const Point v = {mesh.vertices[t[2]][0] - p0[0], mesh.vertices[t[2]][1] - p0[1],
                             mesh.vertices[t[2]][2] - p0[2]};
            const Point n = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                             u[0] * v[1] - u[1] * v[0]};
            for (auto i : t) {
                for (int k = 0; k < 3; ++k) sum[i][k] += n[k];
            }
        }
        for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
            const double length =
                std::sqrt(sum[i][0] * sum[i][0] + sum[i][1] * sum[i][1] + sum[i][2] * sum[i][2]);
            if (length == 0) continue;
            // Outward: the triangles wind so that their normals point out of the solid.
            for (int k = 0; k < 3; ++k) mesh.vertices[i][k] -= offset * sum[i][k] / length;
        }
    }
    return mesh;
}

Similarity someSimilarity() {
    // 40 degrees about (1, 2, 3), scaled by 0.37 and moved.
    const double angle = 40 * std::numbers::pi / 180;
    double axis[3] = {1, 2, 3};
    const double n = std::sqrt(14.0);
    for (double& a : axis) a /= n;
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    Similarity moved;
    moved.scale = 0.37;
    moved.rotation = {t * axis[0] * axis[0] + c,
                      t * axis[0] * axis[1] - s * axis[2],
                      t * axis[0] * axis[2] + s * axis[1],
                      t * axis[0] * axis[1] + s * axis[2],
                      t * axis[1] * axis[1] + c,
                      t * axis[1] * axis[2] - s * axis[0],
                      t * axis[0] * axis[2] - s * axis[1],
                      t * axis[1] * axis[2] + s * axis[0],
                      t * axis[2] * axis[2] + c};
    moved.translation = {5, -3, 12};
    return moved;
}

TEST(ModelScore, TheTruthItselfScoresPerfectlyWhereverItStands) {
    const Mesh truth = lumpySolid();
    const Mesh model = someSimilarity().apply(truth);
    const ModelScore score = scoreModel(model, truth);
    EXPECT_LT(score.meanErrorFraction, 1e-5);
    EXPECT_DOUBLE_EQ(score.completeness, 1.0);
    EXPECT_NEAR(score.alignment.scale, 1 / 0.37, 1e-4);
}

TEST(ModelScore, ASurfaceOffsetByOnePercentScoresAboutOnePercent) {
    const Mesh truth = lumpySolid();
    const double diagonal = truth.diagonal();
    const Mesh model = someSimilarity().apply(lumpySolid(0.01 * diagonal));
    const ModelScore score = scoreModel(model, truth);
    // A best-fit similarity takes part of a uniform offset up as scale (an inflated lump is
    // much like a larger one), so the error shows, but below the offset itself.
    EXPECT_GT(score.meanErrorFraction, 0.001);
    EXPECT_LT(score.meanErrorFraction, 0.012);
}

TEST(ModelScore, OnlyTheObjectInsideItsBoundsCountsAndFits) {
    const Mesh truth = lumpySolid();
    // A model with a far-away slab (a floor) that the truth lacks.
    Mesh model = truth;
    const std::uint32_t base = static_cast<std::uint32_t>(model.vertices.size());
    for (Point p : {Point{-5, -3, -5}, Point{5, -3, -5}, Point{5, -3, 5}, Point{-5, -3, 5}})
        model.vertices.push_back(p);
    model.triangles.push_back({base, base + 1, base + 2});
    model.triangles.push_back({base, base + 2, base + 3});
    ScoreOptions options;
    options.initial = Similarity{};
    options.bounds = link::ObjectBounds{{0, 0, 0}, 1.6f, 3.6f};
    const ModelScore object = scoreModel(model, truth, options);
    EXPECT_LT(object.meanErrorFraction, 1e-5);
    EXPECT_DOUBLE_EQ(object.completeness, 1.0);
}

TEST(MeshFiles, PlyRoundTripAndBadFiles) {
    pelorin::testing::ScratchFolder scratch;
    const Mesh truth = lumpySolid();
    ASSERT_TRUE(saveAsciiPly(truth, scratch / "mesh.ply"));
    auto read = loadMesh(scratch / "mesh.ply");
    ASSERT_TRUE(read) << read.error();
    EXPECT_EQ(read->vertices.size(), truth.vertices.size());
    EXPECT_EQ(read->triangles, truth.triangles);
    pelorin::testing::writeFile(
        scratch / "bad.ply",
        "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nend_header\n1\n");
    EXPECT_FALSE(loadMesh(scratch / "bad.ply"));
    EXPECT_FALSE(loadMesh(scratch / "absent.ply"));
}

}  // namespace
}  // namespace pelorin::evaluation
