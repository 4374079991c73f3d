#include "engine/formats/obj_writer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "engine/formats/obj_reader.h"
#include "tests/support/test_models.h"

namespace pelorin::engine {
namespace {

std::size_t linesStartingWith(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) count += line.starts_with(prefix);
    return count;
}

// Written and read again, a mesh is the same mesh: positions, normals, coordinates, groups and
// their images; corners that share a position share its line.
TEST(ObjWriter, WhatIsWrittenReadsBackAsTheSameMeshAndCornersShareTheirPositions) {
    pelorin::testing::ScratchFolder folder;
    pelorin::testing::writeTexturedCube(folder / "cube");
    const auto cube = ObjReader::readObjFolder(folder / "cube");
    ASSERT_TRUE(cube);

    ASSERT_TRUE(ObjWriter::write(*cube, folder / "out"));
    const auto again = ObjReader::readObjFolder(folder / "out");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->positions, cube->positions);
    EXPECT_EQ(again->normals, cube->normals);
    EXPECT_EQ(again->texcoords, cube->texcoords);
    ASSERT_EQ(again->groups.size(), cube->groups.size());
    for (std::size_t g = 0; g < cube->groups.size(); ++g) {
        EXPECT_EQ(again->groups[g].indices, cube->groups[g].indices);
        ASSERT_TRUE(again->groups[g].texture);
        EXPECT_TRUE(again->groups[g].texture->sameImage(*cube->groups[g].texture));
    }
    // The cube's eight corners, whatever their texture coordinates.
    const auto text = pelorin::testing::readText(folder / "out" / "model.obj");
    EXPECT_EQ(linesStartingWith(text, "v "), 8u);
    // Two images: the shared checker and the bronze.
    EXPECT_TRUE(std::filesystem::exists(folder / "out" / "model.png"));
    EXPECT_TRUE(std::filesystem::exists(folder / "out" / "model-1.jpg"));
}

TEST(ObjWriter, ABrokenMeshIsRefusedAndNothingIsWritten) {
    pelorin::testing::ScratchFolder folder;
    pelorin::testing::writeTexturedCube(folder / "cube");
    const auto cube = ObjReader::readObjFolder(folder / "cube");
    ASSERT_TRUE(cube);
    struct Case {
        const char* name;
        std::function<void(TexturedMesh&)> damage;
        ModelError error;
    };
    const std::vector<Case> cases = {
        {"no vertices", [](TexturedMesh& m) { m = TexturedMesh{}; }, ModelError::empty},
        {"index past the end", [](TexturedMesh& m) { m.groups[0].indices[0] = 1000; },
         ModelError::invalidMesh},
        {"half a triangle", [](TexturedMesh& m) { m.groups[0].indices.pop_back(); },
         ModelError::invalidMesh},
        {"normals short", [](TexturedMesh& m) { m.normals.pop_back(); }, ModelError::invalidMesh},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TexturedMesh mesh = *cube;
        c.damage(mesh);
        const auto written = ObjWriter::write(mesh, folder / c.name);
        ASSERT_FALSE(written);
        EXPECT_EQ(std::get<ModelError>(written.error()), c.error);
        EXPECT_FALSE(std::filesystem::exists(folder / c.name / "model.obj"));
    }
}

}  // namespace
}  // namespace pelorin::engine
