#include "evaluation/model_file.h"

#include <gtest/gtest.h>

#include <limits>

#include "engine/formats/glb_writer.h"
#include "engine/formats/ply.h"
#include "engine/formats/usdz_writer.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_shapes.h"

namespace pelorin::evaluation {
namespace {

// Each reader is tested beside it; here the files of every kind must meet in one mesh.
TEST(ModelReaders, FilesOfEveryKindGiveTheSameGeometry) {
    pelorin::testing::ScratchFolder scratch;
    const auto model = fixtures::texturedOf(fixtures::lumpySolid());
    pelorin::testing::writeFile(scratch / "model.glb", *engine::GlbWriter::buildGLB(model));
    pelorin::testing::writeFile(scratch / "Model.USDZ", *engine::UsdzWriter::buildUSDZ(model));
    const Mesh expected = geometryOf(model);
    ASSERT_TRUE(engine::writePlyMesh(expected, scratch / "model.ply"));
    for (const char* name : {"model.glb", "Model.USDZ", "model.ply"}) {
        const auto mesh = loadMesh(scratch / name);
        ASSERT_TRUE(mesh) << mesh.error();
        EXPECT_EQ(mesh->triangles, expected.triangles) << name;
        ASSERT_EQ(mesh->vertices.size(), expected.vertices.size()) << name;
        for (std::size_t i = 0; i < expected.vertices.size(); ++i)
            ASSERT_EQ(mesh->vertices[i], expected.vertices[i]) << name << " " << i;
    }
    // The textured form keeps the images, which outlive the mapped file's reader.
    const auto textured = loadTexturedModel(scratch / "model.glb");
    ASSERT_TRUE(textured) << textured.error();
    ASSERT_TRUE(textured->groups[1].texture);
    EXPECT_TRUE(textured->groups[1].texture->sameImage(*model.groups[1].texture));

    const auto missing = loadMesh(scratch / "absent.glb");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("absent.glb"), std::string::npos) << missing.error();
}

// The reader takes any number; the distance grid's arithmetic needs finite, nearby ones.
TEST(MeshFiles, VerticesAtNonFiniteOrAbsurdPlacesAreRefused) {
    pelorin::testing::ScratchFolder scratch;
    for (float far : {std::numeric_limits<float>::quiet_NaN(), 1e30f}) {
        Mesh mesh;
        mesh.vertices = {{0, 0, 0}, {1, far, 0}, {0, 1, 0}};
        mesh.triangles = {{0, 1, 2}};
        ASSERT_TRUE(engine::writePlyMesh(mesh, scratch / "far.ply"));
        const auto read = loadMesh(scratch / "far.ply");
        ASSERT_FALSE(read) << far;
        EXPECT_NE(read.error().find("non-finite or absurd"), std::string::npos) << read.error();
        EXPECT_NE(read.error().find("far.ply"), std::string::npos) << read.error();
    }
}

}  // namespace
}  // namespace pelorin::evaluation
