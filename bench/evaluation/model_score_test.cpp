#include "bench/evaluation/model_score.h"

#include <gtest/gtest.h>

#include "bench/evaluation/test_shapes.h"
#include "tests/support/scratch_folder.h"

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
