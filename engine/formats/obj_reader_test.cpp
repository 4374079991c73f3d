#include "engine/formats/obj_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/test_models.h"

namespace pelorin::engine {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::ScratchFolder;
using testing::writeFile;

constexpr const char* square = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

std::vector<float> positionOf(const TexturedMesh& mesh, std::uint32_t vertex) {
    return {mesh.positions.begin() + vertex * 3, mesh.positions.begin() + vertex * 3 + 3};
}

// The positions of a group's triangle corners, so that tests need not know the output order.
std::vector<std::vector<float>> cornerPositions(const TexturedMesh& mesh, std::size_t group = 0) {
    std::vector<std::vector<float>> corners;
    for (const auto index : mesh.groups.at(group).indices)
        corners.push_back(positionOf(mesh, index));
    return corners;
}

TEST(ObjReaderIndices, PositiveNegativeAndSignedReferencesNameTheSameVertices) {
    const auto mesh =
        ObjReader::parseObjText(std::string(square) + "f 1 2 3\nf -4 -2 -1\nf +1 +3 4\n");
    ASSERT_EQ(mesh.groups.size(), 1u);
    using P = std::vector<float>;
    EXPECT_THAT(cornerPositions(mesh),
                ElementsAre(P{0, 0, 0}, P{1, 0, 0}, P{1, 1, 0}, P{0, 0, 0}, P{1, 1, 0}, P{0, 1, 0},
                            P{0, 0, 0}, P{1, 1, 0}, P{0, 1, 0}));
}

TEST(ObjReaderIndices, RelativeReferencesFollowTheVerticesReadSoFar) {
    // The same token text "-3 -2 -1" names new vertices each time; merging it would collapse
    // every face onto the first one.
    const auto mesh = ObjReader::parseObjText(
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\nv 5 0 0\nv 6 0 0\nv 5 1 0\nf -3 -2 -1\n");
    using P = std::vector<float>;
    EXPECT_THAT(cornerPositions(mesh), ElementsAre(P{0, 0, 0}, P{1, 0, 0}, P{0, 1, 0}, P{5, 0, 0},
                                                   P{6, 0, 0}, P{5, 1, 0}));
}

TEST(ObjReaderIndices, IdenticalTokensShareAVertexAndDifferentTokensDoNot) {
    const auto mesh =
        ObjReader::parseObjText(std::string(square) + "vt 0 0\nf 1 2 3\nf 1 3 4\nf 1/1 3 4\n");
    EXPECT_EQ(mesh.vertexCount(), 5u);  // 1, 2, 3, 4 and 1/1
    EXPECT_THAT(mesh.groups[0].indices, ElementsAre(0, 1, 2, 0, 2, 3, 4, 2, 3));
}

TEST(ObjReaderIndices, FacesWithAnUnusablePositionAreDroppedWhole) {
    const auto mesh = ObjReader::parseObjText(std::string(square) +
                                              "f 1 2 99\n"                       // past the end
                                              "f 0 1 2\n"                        // zero is no index
                                              "f -5 1 2\n"                       // before the first
                                              "f 1 2 99999999999999999999999\n"  // overflows
                                              "f 1 2 3x\n"
                                              "f /1 2 3\n"
                                              "f 1 2\n"  // too few corners
                                              "f 2 3 4\n");
    using P = std::vector<float>;
    EXPECT_THAT(cornerPositions(mesh), ElementsAre(P{1, 0, 0}, P{1, 1, 0}, P{0, 1, 0}));
}

TEST(ObjReaderIndices, UnusableTextureAndNormalReferencesFallBackToDefaults) {
    const auto mesh = ObjReader::parseObjText(std::string(square) + "vt 0.25 0.75\nvn 0 0 2\n" +
                                              "f 1/1/1 2/7/1 3/x/9\n");
    ASSERT_EQ(mesh.vertexCount(), 3u);
    EXPECT_TRUE(mesh.hasTexcoords);
    EXPECT_TRUE(mesh.hasNormals);
    EXPECT_THAT(mesh.texcoords, ElementsAre(0.25f, 0.75f, 0, 0, 0, 0));
    EXPECT_THAT(mesh.normals, ElementsAre(0, 0, 2, 0, 0, 2, 0, 1, 0));
}

TEST(ObjReaderTriangulation, PolygonsBecomeFansAroundTheirFirstCorner) {
    auto mesh = ObjReader::parseObjText(std::string(square) + "f 1 2 3 4\n");
    EXPECT_THAT(mesh.groups[0].indices, ElementsAre(0, 1, 2, 0, 2, 3));
    mesh = ObjReader::parseObjText(std::string(square) + "v 0.5 2 0\nf 1 2 3 5 4\n");
    EXPECT_THAT(mesh.groups[0].indices, ElementsAre(0, 1, 2, 0, 2, 3, 0, 3, 4));
}

TEST(ObjReaderDefaults, MissingNormalsPointUpAndMissingTextureCoordinatesAreZero) {
    const auto normalsOnly =
        ObjReader::parseObjText(std::string(square) + "vn 0 0 1\nf 1//1 2//1 3//1\n");
    EXPECT_TRUE(normalsOnly.hasNormals);
    EXPECT_THAT(normalsOnly.normals, ElementsAre(0, 0, 1, 0, 0, 1, 0, 0, 1));
    const auto bare = ObjReader::parseObjText(std::string(square) + "f 1 2 3\n");
    EXPECT_FALSE(bare.hasNormals);
    EXPECT_THAT(bare.normals, ElementsAre(0, 1, 0, 0, 1, 0, 0, 1, 0));
    for (const auto* mesh : {&normalsOnly, &bare}) {
        EXPECT_FALSE(mesh->hasTexcoords);
        EXPECT_THAT(mesh->texcoords, ElementsAre(0, 0, 0, 0, 0, 0));
    }
}

TEST(ObjReaderLines, MalformedValuesAndUnknownKeywordsNeverStopTheParse) {
    const auto mesh = ObjReader::parseObjText(
        "v 1 2\n"              // too short: not a vertex, so it shifts no index
        "v 1 x 3\n"            // unparseable value becomes 0
        "v 4 5 6 1 0.5 0.5\n"  // w and colours ignored
        "v 1e99 nan -inf\n"    // non-finite values become 0
        "v +7 -8 9.5e-1\n"
        "vt 0.5\n"  // v defaults to 0
        "vt a b\n"
        "vn\n"
        "o object\ng group\ns 1\nl 1 2\nV 9 9 9\n# f 1 2 3\n"
        "f 1/1 2/2 3 4\n");
    EXPECT_THAT(mesh.positions, ElementsAre(1, 0, 3, 4, 5, 6, 0, 0, 0, 7, -8, 0.95f));
    EXPECT_THAT(mesh.texcoords, ElementsAre(0.5f, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(mesh.groups[0].indices, ElementsAre(0, 1, 2, 0, 2, 3));
}

TEST(ObjReaderLines, EveryLineSeparatorAndBlankSpacingIsAccepted) {
    const std::string separators[] = {"\n", "\r\n",     "\r",           "\v",
                                      "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};
    for (const auto& end : separators) {
        const std::string text =
            "  v 0 0 0" + end + "\tv\t1 0  0 \t" + end + end + "v 0 1 0" + end + "f 1 2 3";
        const auto mesh = ObjReader::parseObjText(text);
        ASSERT_EQ(mesh.groups.size(), 1u) << "separator bytes " << end.size();
        EXPECT_THAT(mesh.positions, ElementsAre(0, 0, 0, 1, 0, 0, 0, 1, 0));
    }
}

TEST(ObjReaderGroups, UsemtlSelectsOrCreatesGroupsAndEmptyGroupsAreRemoved) {
    std::string mtllib;
    const auto mesh = ObjReader::parseObjText(std::string(square) +
                                                  "mtllib  first file.mtl \nmtllib second.mtl\n"
                                                  "usemtl unused\n"
                                                  "usemtl red  paint\nf 1 2 3\n"
                                                  "usemtl blue\nf 1 3 4\n"
                                                  "usemtl red  paint\nf 2 3 4\n",
                                              &mtllib);
    EXPECT_EQ(mtllib, "first file.mtl");
    ASSERT_EQ(mesh.groups.size(), 2u);  // the initial group and "unused" had no faces
    EXPECT_EQ(mesh.groups[0].material, "red  paint");
    EXPECT_EQ(mesh.groups[0].indices.size(), 6u);
    EXPECT_EQ(mesh.groups[1].material, "blue");
}

TEST(ObjReaderGroups, FacesBeforeAnyUsemtlFormTheUnnamedGroup) {
    const auto mesh = ObjReader::parseObjText(std::string(square) +
                                              "f 1 2 3\nusemtl a\nf 1 3 4\nusemtl\nf 2 3 4\n");
    ASSERT_EQ(mesh.groups.size(), 2u);
    EXPECT_EQ(mesh.groups[0].material, "");
    EXPECT_EQ(mesh.groups[0].indices.size(), 6u);
}

TEST(ObjReaderFiles, TexturesComeFromTheMaterialLibrary) {
    ScratchFolder folder;
    testing::writeTexturedCube(folder.path());
    const auto mesh = ObjReader::parseOBJ(folder / "cube.obj");
    ASSERT_TRUE(mesh);
    ASSERT_EQ(mesh->groups.size(), 3u);
    const auto& front = mesh->groups[0];
    const auto& trim = mesh->groups[2];
    ASSERT_TRUE(front.texture && trim.texture);
    EXPECT_EQ(front.texture->mime, "image/png");
    EXPECT_EQ(Bytes(front.texture->bytes.begin(), front.texture->bytes.end()),
              testing::testImage("checker.png"));
    EXPECT_EQ(trim.texture->mime, "image/jpeg");
    EXPECT_EQ(Bytes(trim.texture->bytes.begin(), trim.texture->bytes.end()),
              testing::testImage("bronze.jpg"));
    EXPECT_EQ(mesh->groups[1].texture->mime, "image/png");  // options before the name skipped
}

TEST(ObjReaderFiles, MaterialLibraryEdgeCases) {
    ScratchFolder folder;
    writeFile(folder / "a.png", testing::testImage("checker.png"));
    writeFile(folder / "b.JPEG", testing::testImage("bronze.jpg"));
    writeFile(folder / "outside.png", "secret");
    std::filesystem::create_directory(folder / "inner");
    const std::string library =
        "map_Kd a.png\n"  // no material yet
        "newmtl  first one \nmap_Kd missing.png\nmap_Kd a.png\n"
        "newmtl second\nmap_Kd a.png\nmap_Kd b.JPEG\n"  // the later one wins
        "newmtl third\nmap_Kd missing.png\n";
    const auto textures = ObjReader::parseMtlText(
        library + "newmtl escape\nmap_Kd ../outside.png\nnewmtl absolute\nmap_Kd " +
            (folder / "a.png").string() + "\nnewmtl folder\nmap_Kd .\n",
        folder / "inner");
    EXPECT_TRUE(textures.empty()) << "nothing may be read from outside inner/";

    const auto inside = ObjReader::parseMtlText(library, folder.path());
    ASSERT_EQ(inside.size(), 2u);
    EXPECT_EQ(inside.at("first one").mime, "image/png");
    EXPECT_EQ(inside.at("second").mime, "image/jpeg");
    EXPECT_EQ(Bytes(inside.at("second").bytes.begin(), inside.at("second").bytes.end()),
              testing::testImage("bronze.jpg"));
}

TEST(ObjReaderFiles, GroupsWithoutTheirOwnTextureTakeTheLibrarysFirst) {
    ScratchFolder folder;
    writeFile(folder / "a.png", testing::testImage("checker.png"));
    writeFile(folder / "m.obj",
              std::string("mtllib m.mtl\n") + square + "f 1 2 3\nusemtl other\nf 1 3 4\n");
    writeFile(folder / "m.mtl", "newmtl zeta\nmap_Kd a.png\nnewmtl alpha\nmap_Kd a.png\n");
    const auto mesh = ObjReader::parseOBJ(folder / "m.obj");
    ASSERT_TRUE(mesh);
    ASSERT_EQ(mesh->groups.size(), 2u);
    for (const auto& group : mesh->groups) {
        ASSERT_TRUE(group.texture) << group.material;
        // One file named twice is read once.
        EXPECT_EQ(group.texture->bytes.data(), mesh->groups[0].texture->bytes.data());
    }
}

TEST(ObjReaderFiles, MissingOrBrokenLibraryOnlyLosesTextures) {
    ScratchFolder folder;
    writeFile(folder / "a.obj", std::string("mtllib none.mtl\n") + square + "f 1 2 3\n");
    writeFile(folder / "b.obj", std::string("mtllib b.mtl\n") + square + "f 1 2 3\n");
    writeFile(folder / "b.mtl", "newmtl x\nmap_Kd \xFF\xFE.png\n");
    for (const char* name : {"a.obj", "b.obj"}) {
        const auto mesh = ObjReader::parseOBJ(folder / name);
        ASSERT_TRUE(mesh) << name;
        ASSERT_EQ(mesh->groups.size(), 1u);
        EXPECT_FALSE(mesh->groups[0].texture);
    }
}

TEST(ObjReaderFiles, UnreadableObjFilesAreErrors) {
    ScratchFolder folder;
    writeFile(folder / "binary.obj", std::string("v 0 0 0\n\xC3\x28\x00\xFF", 12));
    std::filesystem::create_directory(folder / "folder.obj");
    ASSERT_EQ(::mkfifo((folder / "pipe.obj").c_str(), 0600), 0);

    const auto binary = ObjReader::parseOBJ(folder / "binary.obj");
    ASSERT_FALSE(binary);
    EXPECT_EQ(binary.error().description(), "Could not read the file: The file is not UTF-8 text");
    const auto missing = ObjReader::parseOBJ(folder / "missing.obj");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().description(), "Could not read the file: No such file or directory");
    EXPECT_FALSE(ObjReader::parseOBJ(folder / "folder.obj"));
    EXPECT_FALSE(ObjReader::parseOBJ(folder / "pipe.obj"));  // refused, not waited on
}

TEST(ObjReaderFiles, ByteOrderMarkAndTruncatedLastLine) {
    ScratchFolder folder;
    writeFile(folder / "m.obj", std::string("\xEF\xBB\xBF") + square + "f 1 2 3\nf 1 3 4\nf 2 3");
    const auto mesh = ObjReader::parseOBJ(folder / "m.obj");
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->groups[0].indices.size(), 6u);
    EXPECT_EQ(mesh->vertexCount(), 4u);
}

TEST(ObjReaderFiles, FindObjFileIgnoresTheExtensionsCase) {
    ScratchFolder folder;
    EXPECT_FALSE(ObjReader::findObjFile(folder.path()));
    EXPECT_FALSE(ObjReader::findObjFile(folder / "missing"));
    writeFile(folder / "model.mtl", "");
    writeFile(folder / "model.objx", "");
    EXPECT_FALSE(ObjReader::findObjFile(folder.path()));
    writeFile(folder / "model.OBJ", "");
    EXPECT_EQ(ObjReader::findObjFile(folder.path()), folder / "model.OBJ");
}

}  // namespace
}  // namespace pelorin::engine
