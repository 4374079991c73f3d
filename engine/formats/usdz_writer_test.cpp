#include "engine/formats/usdz_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/binary/crc32.h"
#include "engine/formats/obj_reader.h"
#include "engine/formats/usdz_check.h"
#include "tests/support/test_models.h"

namespace pelorin::engine {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ScratchFolder;

std::string entryText(const Bytes& package, const testing::ZipEntry& entry) {
    return std::string(reinterpret_cast<const char*>(package.data()) + entry.dataOffset,
                       entry.size);
}

Bytes entryBytes(const Bytes& package, const testing::ZipEntry& entry) {
    const auto start = package.begin() + static_cast<std::ptrdiff_t>(entry.dataOffset);
    return Bytes(start, start + entry.size);
}

TexturedMesh cube() {
    ScratchFolder folder;
    testing::writeTexturedCube(folder.path());
    auto mesh = ObjReader::parseOBJ(folder / "cube.obj");
    EXPECT_TRUE(mesh);
    return *mesh;
}

TEST(UsdzPackage, LayerFirstTexturesAfterAllAlignedAndChecked) {
    const auto package = UsdzWriter::buildUSDZ(cube());
    ASSERT_TRUE(package);
    EXPECT_FALSE(engine::findUsdzDefect(*package));
    const auto entries = testing::readZipEntries(*package);
    ASSERT_EQ(entries.size(), 3u);  // the layer and two distinct images
    EXPECT_EQ(entries[0].name, "model.usda");
    EXPECT_EQ(entries[1].name, "textures/texture_0.png");
    EXPECT_EQ(entries[2].name, "textures/texture_1.jpg");
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.dataOffset % 64, 0u) << entry.name;
        EXPECT_EQ(entry.crc, common::crc32(entryBytes(*package, entry))) << entry.name;
    }
    EXPECT_EQ(entryBytes(*package, entries[1]), testing::testImage("checker.png"));
    EXPECT_EQ(entryBytes(*package, entries[2]), testing::testImage("bronze.jpg"));

    ScratchFolder folder;
    ASSERT_TRUE(UsdzWriter::write(cube(), folder / "model.usdz"));
    const auto test =
        testing::runCommand("unzip -t '" + (folder / "model.usdz").string() + "' 2>&1");
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_EQ(testing::readBytes(folder / "model.usdz"), *package) << "the package is reproducible";
}

TEST(UsdzLayer, StageMeshAndMaterialsForSeveralGroups) {
    const auto package = UsdzWriter::buildUSDZ(cube());
    const std::string layer = entryText(*package, testing::readZipEntries(*package)[0]);
    EXPECT_THAT(layer, ::testing::StartsWith("#usda 1.0\n"));
    EXPECT_THAT(layer, HasSubstr("defaultPrim = \"Model\""));
    EXPECT_THAT(layer, HasSubstr("metersPerUnit = 1\n"));
    EXPECT_THAT(layer, HasSubstr("upAxis = \"Y\""));
    EXPECT_THAT(layer, HasSubstr("def Xform \"Model\""));
    EXPECT_THAT(layer, HasSubstr("float3[] extent = [(-1, -1, -1), (1, 1, 1)]"));
    EXPECT_THAT(layer,
                HasSubstr("int[] faceVertexCounts = [3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3]\n"));
    // Subsets partition the twelve faces in group order: front 0-5, back 6-9, trim 10-11.
    EXPECT_THAT(layer, HasSubstr("familyType = \"partition\""));
    EXPECT_THAT(layer, HasSubstr("def GeomSubset \"Material_0\""));
    EXPECT_THAT(layer, HasSubstr("int[] indices = [0, 1, 2, 3, 4, 5]\n"));
    EXPECT_THAT(layer, HasSubstr("int[] indices = [6, 7, 8, 9]\n"));
    EXPECT_THAT(layer, HasSubstr("int[] indices = [10, 11]\n"));
    EXPECT_THAT(layer, HasSubstr("rel material:binding = </Model/Materials/Material_2>"));
    EXPECT_THAT(layer, HasSubstr("normal3f[] normals = [(0, 0, -1), "));
    EXPECT_THAT(layer, HasSubstr("texCoord2f[] primvars:st = [(0, 0), (0, 1), (1, 1), (1, 0), "));
    EXPECT_THAT(layer, HasSubstr("interpolation = \"vertex\""));
    // Two materials share the first image file.
    const auto first = layer.find("@textures/texture_0.png@");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(layer.find("@textures/texture_0.png@", first + 1), std::string::npos);
    EXPECT_THAT(layer, HasSubstr("@textures/texture_1.jpg@"));
    EXPECT_THAT(layer, HasSubstr("uniform token info:id = \"UsdPreviewSurface\""));
    EXPECT_THAT(layer, HasSubstr("uniform token info:id = \"UsdUVTexture\""));
    EXPECT_THAT(layer, HasSubstr("uniform token info:id = \"UsdPrimvarReader_float2\""));
    EXPECT_THAT(
        layer,
        HasSubstr(
            "float2 inputs:st.connect = </Model/Materials/Material_1/TexCoords.outputs:result>"));
}

TEST(UsdzLayer, FaceVertexIndicesAndPointsMatchTheMesh) {
    TexturedMesh mesh =
        ObjReader::parseObjText("v 0 0 0\nv 1.5 0 0\nv 0 -2 0\nv 1 1 1\nf 1 2 3 4\n");
    const auto package = UsdzWriter::buildUSDZ(mesh);
    ASSERT_TRUE(package);
    const std::string layer = entryText(*package, testing::readZipEntries(*package)[0]);
    EXPECT_THAT(layer, HasSubstr("int[] faceVertexIndices = [0, 1, 2, 0, 2, 3]\n"));
    EXPECT_THAT(layer,
                HasSubstr("point3f[] points = [(0, 0, 0), (1.5, 0, 0), (0, -2, 0), (1, 1, 1)]\n"));
    // One group binds on the mesh itself; no texture means a plain colour and no readers.
    EXPECT_THAT(layer, HasSubstr("rel material:binding = </Model/Materials/Material_0>"));
    EXPECT_THAT(layer, Not(HasSubstr("GeomSubset")));
    EXPECT_THAT(layer, Not(HasSubstr("normals")));
    EXPECT_THAT(layer, Not(HasSubstr("primvars:st")));
    EXPECT_THAT(layer, HasSubstr("color3f inputs:diffuseColor = (0.8, 0.8, 0.8)"));
    EXPECT_EQ(testing::readZipEntries(*package).size(), 1u);
}

TEST(UsdzPackage, InconsistentMeshesAreRefused) {
    const TexturedMesh good =
        ObjReader::parseObjText("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n");
    ASSERT_TRUE(UsdzWriter::buildUSDZ(good));

    auto outOfRange = good;
    outOfRange.groups[0].indices[2] = 3;
    auto partialTriangle = good;
    partialTriangle.groups[0].indices.push_back(0);
    auto shortNormals = good;
    shortNormals.normals.pop_back();
    auto strayPosition = good;
    strayPosition.positions.push_back(1);
    for (const auto* mesh : {&outOfRange, &partialTriangle, &shortNormals, &strayPosition}) {
        const auto package = UsdzWriter::buildUSDZ(*mesh);
        ASSERT_FALSE(package);
        EXPECT_EQ(package.error(), UsdzWriter::UsdzError::invalidMesh);
    }
    auto empty = good;
    empty.groups[0].indices.clear();
    ASSERT_FALSE(UsdzWriter::buildUSDZ(empty));
    EXPECT_EQ(UsdzWriter::buildUSDZ(empty).error(), UsdzWriter::UsdzError::empty);
    EXPECT_EQ(UsdzWriter::buildUSDZ(TexturedMesh{}).error(), UsdzWriter::UsdzError::empty);
}

TEST(UsdzConvert, FromAnObjFolder) {
    ScratchFolder folder;
    auto missing = UsdzWriter::convert(folder.path(), folder / "m.usdz");
    ASSERT_FALSE(missing);
    EXPECT_EQ(UsdzWriter::description(missing.error()), "No OBJ file was found to convert.");

    testing::writeTexturedCube(folder.path());
    ASSERT_TRUE(UsdzWriter::convert(folder.path(), folder / "m.usdz"));
    const Bytes package = testing::readBytes(folder / "m.usdz");
    EXPECT_TRUE(engine::isUsdzPackage(package));
    EXPECT_EQ(testing::readZipEntries(package).size(), 3u);
}

}  // namespace
}  // namespace pelorin::engine
