#include "evaluation/model_score.h"
#include "engine/formats/ply.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/scratch_folder.h"
#include "tests/support/test_shapes.h"

namespace pelorin::evaluation {
namespace {

using fixtures::lumpySolid;
using fixtures::someSimilarity;

TEST(ModelScore, TheTruthItselfScoresPerfectlyWhereverItStands) {
    const Mesh truth = lumpySolid();
    const Mesh model = someSimilarity().apply(truth);
    const ModelScore score = scoreModel(model, truth);
    EXPECT_LT(score.meanErrorFraction, 1e-5);
    EXPECT_DOUBLE_EQ(score.completeness, 1.0);
    EXPECT_NEAR(score.alignment.scale, 1 / 0.37, 1e-4);
}

TEST(ModelScore, TiltIsWhatTheAlignmentTurnsTheVerticalBy) {
    const Mesh truth = lumpySolid();
    const double a = 25 * 3.14159265358979 / 180, b = 7 * 3.14159265358979 / 180;
    // Turned about the vertical only: upright still.
    Similarity aboutVertical;
    aboutVertical.rotation = {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)};
    EXPECT_NEAR(tiltDegrees(scoreModel(aboutVertical.apply(truth), truth).alignment), 0, 0.05);
    // Tipped by 7 degrees about x: the alignment has to tip it back.
    Similarity tipped;
    tipped.rotation = {1, 0, 0, 0, std::cos(b), -std::sin(b), 0, std::sin(b), std::cos(b)};
    EXPECT_NEAR(tiltDegrees(scoreModel(tipped.apply(truth), truth).alignment), 7, 0.05);
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

TEST(ModelScore, ARigidFitKeepsTheModelsScale) {
    const Mesh truth = lumpySolid();
    const double diagonal = truth.diagonal();
    ScoreOptions rigid;
    rigid.fit = Fit::rigid;
    rigid.samples = 10000;
    // Moved and turned only: nothing to find but the pose.
    const ModelScore same = scoreModel(someSimilarity(1).apply(truth), truth, rigid);
    EXPECT_LT(same.meanErrorFraction, 1e-5);
    EXPECT_DOUBLE_EQ(same.alignment.scale, 1);
    EXPECT_NEAR(same.similarityScale, 1, 1e-4);

    // The whole offset shows, where a similarity hides most of it as scale.
    const ModelScore offset =
        scoreModel(someSimilarity(1).apply(lumpySolid(0.01 * diagonal)), truth, rigid);
    EXPECT_GT(offset.meanErrorFraction, 0.008);
    EXPECT_LT(offset.meanErrorFraction, 0.012);
    EXPECT_DOUBLE_EQ(offset.alignment.scale, 1);
    EXPECT_LT(offset.similarityScale, 0.995);

    // A model 10% too large stays too large, and the free scale says by how much.
    const ModelScore large = scoreModel(someSimilarity(1.1).apply(truth), truth, rigid);
    EXPECT_GT(large.meanErrorFraction, 0.01);
    EXPECT_DOUBLE_EQ(large.alignment.scale, 1);
    EXPECT_NEAR(large.similarityScale, 1 / 1.1, 1e-3);
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

// A closed box, for plinths.
void addBox(Mesh& mesh, const Point& low, const Point& high) {
    const auto base = static_cast<std::uint32_t>(mesh.vertices.size());
    for (int i = 0; i < 8; ++i) {
        mesh.vertices.push_back(
            {i & 1 ? high[0] : low[0], i & 2 ? high[1] : low[1], i & 4 ? high[2] : low[2]});
    }
    for (const auto& t : std::vector<std::array<std::uint32_t, 3>>{{0, 1, 3},
                                                                   {0, 3, 2},
                                                                   {4, 6, 7},
                                                                   {4, 7, 5},
                                                                   {0, 4, 5},
                                                                   {0, 5, 1},
                                                                   {2, 3, 7},
                                                                   {2, 7, 6},
                                                                   {0, 2, 6},
                                                                   {0, 6, 4},
                                                                   {1, 5, 7},
                                                                   {1, 7, 3}}) {
        mesh.triangles.push_back({base + t[0], base + t[1], base + t[2]});
    }
}

// The lumpy solid standing on a plinth the truth lacks, and bounds that enclose the solid.
struct OnPlinth {
    Mesh truth = lumpySolid();
    Mesh plinth;
    link::ObjectBounds bounds;

    OnPlinth() {
        Point low = truth.vertices[0], high = low;
        double radius = 0;
        for (const auto& v : truth.vertices) {
            low[1] = std::min(low[1], v[1]);
            high[1] = std::max(high[1], v[1]);
            radius = std::max(radius, std::hypot(v[0], v[2]));
        }
        addBox(plinth, {-1.3, low[1] - 1.0, -1.9}, {1.3, low[1], 1.9});
        bounds = {{0, float(0.5 * (low[1] + high[1])), 0}, float(radius), float(high[1] - low[1])};
    }
    Mesh both() const {
        Mesh model = truth;
        addBox(model, plinth.vertices[0], plinth.vertices[7]);
        return model;
    }
};

TEST(ModelScore, AModelOnAPlinthNearlyInPlaceStaysThere) {
    // As a capture with camera poses gives it: almost in the truth's frame (turned by 3
    // degrees, 2% large, moved a little). The plinth throws a search over orientations.
    const OnPlinth scene;
    Similarity nearly = someSimilarity(1.02, 3);
    nearly.translation = {0.03, -0.02, 0.04};
    ScoreOptions options;
    options.bounds = scene.bounds;
    options.samples = 10000;
    const Mesh placed = nearly.apply(scene.both());
    const ModelScore score = scoreModel(placed, scene.truth, options);
    EXPECT_NEAR(score.alignment.scale, 1 / 1.02, 1e-3);
    EXPECT_GT(score.completeness, 0.999);
    // The plinth's top just around the object counts, as much as from the exact pose.
    options.initial = nearly.inverse();
    EXPECT_NEAR(score.meanErrorFraction, scoreModel(placed, scene.truth, options).meanErrorFraction,
                1e-4);
}

TEST(ModelScore, AKnownSupportAlignsAModelThatKeepsItAndIsNeverScored) {
    // As a folder of photos gives it: anywhere, turned any way, at any scale.
    const OnPlinth scene;
    ScoreOptions options;
    options.bounds = scene.bounds;
    options.support = scene.plinth;
    options.samples = 10000;
    const ModelScore kept = scoreModel(someSimilarity().apply(scene.both()), scene.truth, options);
    EXPECT_LT(kept.meanErrorFraction, 1e-5);
    EXPECT_DOUBLE_EQ(kept.completeness, 1.0);
    EXPECT_NEAR(kept.alignment.scale, 1 / 0.37, 1e-3);
    // A model of the object alone scores as it does without the support.
    const Mesh alone = someSimilarity(1.1).apply(lumpySolid(0.01 * scene.truth.diagonal()));
    const ModelScore with = scoreModel(alone, scene.truth, options);
    options.support.reset();
    const ModelScore without = scoreModel(alone, scene.truth, options);
    EXPECT_NEAR(with.meanErrorFraction, without.meanErrorFraction, 1e-4);
    EXPECT_NEAR(with.completeness, without.completeness, 1e-3);
}

TEST(MeshFiles, PlyRoundTripAndBadFiles) {
    pelorin::testing::ScratchFolder scratch;
    const Mesh truth = lumpySolid();
    ASSERT_TRUE(engine::writePlyMesh(truth, scratch / "mesh.ply"));
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
