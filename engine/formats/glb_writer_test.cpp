#include "engine/formats/glb_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "tests/support/test_models.h"

namespace pelorin::engine {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::readGlb;
using testing::ScratchFolder;
using testing::writeFile;

TexturedMesh parse(const std::string& text) {
    return ObjReader::parseObjText(text);
}

TextureImage image(const char* name, const char* mime) {
    return TextureImage::fromBytes(testing::testImage(name), mime);
}

TEST(GlbContainer, HeaderChunksAndPaddingAddUp) {
    // Material names of growing length move the JSON through every remainder modulo 4.
    for (std::size_t extra = 0; extra < 4; ++extra) {
        auto mesh =
            parse("v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl m" + std::string(extra, 'x') + "\nf 1 2 3\n");
        const auto file = GlbWriter::buildGLB(mesh);
        ASSERT_TRUE(file);
        const auto glb = readGlb(*file);
        EXPECT_EQ(glb.declaredLength, file->size());
        EXPECT_EQ(glb.jsonChunk.size() % 4, 0u);
        EXPECT_EQ(glb.bin.size() % 4, 0u);
        const std::string compact = glb.document.dump();
        EXPECT_EQ(glb.jsonChunk.substr(0, compact.size()), compact) << "compact, keys sorted";
        EXPECT_EQ(glb.jsonChunk.substr(compact.size()),
                  std::string(glb.jsonChunk.size() - compact.size(), ' '));
        EXPECT_LT(glb.jsonChunk.size() - compact.size(), 4u);
        EXPECT_EQ(glb.document["buffers"][0]["byteLength"], glb.bin.size());
    }
}

TEST(GlbContainer, OddSizedBlocksArePaddedToFourBytes) {
    // Three indices (12 bytes) and a 125-byte PNG, then another group's indices must land on a
    // multiple of four.
    auto mesh = parse("v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl a\nf 1 2 3\nusemtl b\nf 1 3 2\n");
    mesh.groups[0].texture = image("checker.png", "image/png");
    const auto file = GlbWriter::buildGLB(mesh);
    ASSERT_TRUE(file);
    const auto glb = readGlb(*file);
    for (const auto& view : glb.document["bufferViews"]) {
        EXPECT_EQ(view["byteOffset"].get<std::size_t>() % 4, 0u);
        EXPECT_LE(view["byteOffset"].get<std::size_t>() + view["byteLength"].get<std::size_t>(),
                  glb.bin.size());
    }
    EXPECT_THAT(glb.accessor<std::uint32_t>(2), ElementsAre(0, 2, 1));
    EXPECT_EQ(glb.bin.size() % 4, 0u);
}

TEST(GlbDocument, AttributesBoundsAndConversions) {
    const auto mesh = parse(
        "v -1 2 -3\nv 4 -5 6\nv 0 0 0.5\nvt 0.25 0.75\nvn 0 0 3\nvn 0 0 0\n"
        "f 1/1/1 2/1/2 3/1/1\n");
    const auto glb = readGlb(*GlbWriter::buildGLB(mesh));
    const auto& doc = glb.document;
    EXPECT_EQ(doc["meshes"][0]["primitives"][0]["attributes"],
              (nlohmann::json{{"POSITION", 0}, {"NORMAL", 1}, {"TEXCOORD_0", 2}}));
    EXPECT_EQ(doc["accessors"][0]["min"], (nlohmann::json{-1, -5, -3}));
    EXPECT_EQ(doc["accessors"][0]["max"], (nlohmann::json{4, 2, 6}));
    EXPECT_EQ(doc["accessors"][0]["count"], 3);
    EXPECT_THAT(glb.accessor<float>(0), ElementsAre(-1, 2, -3, 4, -5, 6, 0, 0, 0.5f));
    // Normalised; a zero normal points up.
    EXPECT_THAT(glb.accessor<float>(1), ElementsAre(0, 0, 1, 0, 1, 0, 0, 0, 1));
    // v flipped to glTF's top-left origin.
    EXPECT_THAT(glb.accessor<float>(2), ElementsAre(0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.25f));
    EXPECT_EQ(doc["accessors"][3]["componentType"], 5125);
    EXPECT_EQ(doc["bufferViews"][3]["target"], 34963);
    EXPECT_EQ(doc["bufferViews"][0]["target"], 34962);
}

TEST(GlbDocument, BoundsReadBackAsTheSameFloats) {
    const auto mesh = parse("v 0.1 0.2 0.3\nv 0.7 1e-7 3.4028235e38\nv -0.3 0.9 1\nf 1 2 3\n");
    const auto glb = readGlb(*GlbWriter::buildGLB(mesh));
    const auto min = glb.document["accessors"][0]["min"];
    const auto max = glb.document["accessors"][0]["max"];
    EXPECT_EQ(min[0].get<float>(), -0.3f);
    EXPECT_EQ(min[1].get<float>(), 1e-7f);
    EXPECT_EQ(max[0].get<float>(), 0.7f);
    EXPECT_EQ(max[2].get<float>(), 3.4028235e38f);
}

TEST(GlbDocument, OptionalAttributesAreLeftOutWhenNoVertexHadThem) {
    const auto normalsOnly = readGlb(
        *GlbWriter::buildGLB(parse("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n")));
    EXPECT_EQ(normalsOnly.document["meshes"][0]["primitives"][0]["attributes"],
              (nlohmann::json{{"POSITION", 0}, {"NORMAL", 1}}));
    const auto bare = readGlb(*GlbWriter::buildGLB(parse("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")));
    EXPECT_EQ(bare.document["meshes"][0]["primitives"][0]["attributes"],
              (nlohmann::json{{"POSITION", 0}}));
    EXPECT_EQ(bare.document["accessors"].size(), 2u);
    EXPECT_FALSE(bare.document.contains("images"));
    EXPECT_FALSE(bare.document.contains("samplers"));
    EXPECT_FALSE(bare.document.contains("textures"));
    EXPECT_EQ(bare.document["materials"][0],
              (nlohmann::json{
                  {"name", "Material"},
                  {"doubleSided", false},
                  {"pbrMetallicRoughness", {{"metallicFactor", 0}, {"roughnessFactor", 1}}}}));
    EXPECT_EQ(bare.document["asset"],
              (nlohmann::json{{"version", "2.0"}, {"generator", "Pelorin Studio"}}));
    EXPECT_EQ(bare.document["nodes"], nlohmann::json::parse(R"([{"mesh":0,"name":"Model"}])"));
    EXPECT_EQ(bare.document["scenes"], nlohmann::json::parse(R"([{"nodes":[0]}])"));
}

TEST(GlbImages, EqualImageBytesAreEmbeddedOnce) {
    auto mesh = parse(
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl a\nf 1 2 3\nusemtl b\nf 1 3 2\nusemtl c\nf 2 1 3\n");
    mesh.groups[0].texture = image("checker.png", "image/png");
    mesh.groups[1].texture = image("checker.png", "image/png");  // same bytes, separate copy
    mesh.groups[2].texture = image("bronze.jpg", "image/jpeg");
    const auto glb = readGlb(*GlbWriter::buildGLB(mesh));
    const auto& doc = glb.document;
    ASSERT_EQ(doc["images"].size(), 2u);
    EXPECT_EQ(doc["images"][0]["mimeType"], "image/png");
    EXPECT_EQ(doc["images"][1]["mimeType"], "image/jpeg");
    EXPECT_EQ(doc["textures"],
              nlohmann::json::parse(R"([{"sampler":0,"source":0},{"sampler":0,"source":1}])"));
    EXPECT_EQ(doc["samplers"],
              nlohmann::json::parse(
                  R"([{"magFilter":9729,"minFilter":9987,"wrapS":33071,"wrapT":33071}])"));
    EXPECT_EQ(doc["materials"][0]["pbrMetallicRoughness"]["baseColorTexture"]["index"], 0);
    EXPECT_EQ(doc["materials"][1]["pbrMetallicRoughness"]["baseColorTexture"]["index"], 0);
    EXPECT_EQ(doc["materials"][2]["pbrMetallicRoughness"]["baseColorTexture"]["index"], 1);
    const auto& view = doc["bufferViews"][doc["images"][1]["bufferView"].get<std::size_t>()];
    EXPECT_FALSE(view.contains("target"));
    const auto offset = view["byteOffset"].get<std::size_t>();
    EXPECT_EQ(Bytes(glb.bin.begin() + offset,
                    glb.bin.begin() + offset + view["byteLength"].get<std::size_t>()),
              testing::testImage("bronze.jpg"));
}

TEST(GlbConvert, FailuresAreTyped) {
    ScratchFolder folder;
    auto result = GlbWriter::convert(folder.path(), folder / "out.glb");
    ASSERT_FALSE(result);
    EXPECT_EQ(GlbWriter::description(result.error()), "No OBJ file was found to convert.");

    writeFile(folder / "only-vertices.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n");
    result = GlbWriter::convert(folder.path(), folder / "out.glb");
    ASSERT_FALSE(result);
    EXPECT_EQ(GlbWriter::description(result.error()), "The OBJ file has no triangles.");
    EXPECT_FALSE(fs::exists(folder / "out.glb"));

    writeFile(folder / "only-vertices.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    result = GlbWriter::convert(folder.path(), folder / "missing" / "out.glb");
    ASSERT_FALSE(result);
    EXPECT_EQ(GlbWriter::description(result.error()),
              "Could not write the file: No such file or directory");

    writeFile(folder / "only-vertices.obj", "v 0 0 0\n\xFF\n");
    result = GlbWriter::convert(folder.path(), folder / "out.glb");
    ASSERT_FALSE(result);
    EXPECT_TRUE(std::holds_alternative<common::FileError>(result.error()));
}

// The Khronos validator, installed with `npm ci --prefix tests/validator`. CI must have
// it; a developer machine without it skips.
class GlbValidator : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path folder = fs::path(PELORIN_SOURCE_DIR) / "tests" / "validator";
        script_ = folder / "validate.js";
        const bool installed =
            fs::exists(folder / "node_modules" / "gltf-validator" / "package.json") &&
            testing::runCommand("node --version >/dev/null 2>&1").status == 0;
        if (installed) return;
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") {
            FAIL() << "The glTF validator is not installed: run `npm ci --prefix "
                      "tests/validator` "
                      "(needs Node.js).";
        }
        GTEST_SKIP() << "glTF validator not installed (npm ci --prefix tests/validator)";
    }

    void expectValid(const fs::path& glb) {
        const auto result =
            testing::runCommand("node '" + script_.string() + "' '" + glb.string() + "' 2>&1");
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_THAT(result.output, ::testing::StartsWith("errors=0 ")) << result.output;
    }

    fs::path script_;
};

TEST_F(GlbValidator, TexturedModelWithSharedImagesHasNoErrors) {
    ScratchFolder folder;
    testing::writeTexturedCube(folder.path());
    ASSERT_TRUE(GlbWriter::convert(folder.path(), folder / "cube.glb"));
    expectValid(folder / "cube.glb");
}

TEST_F(GlbValidator, UntexturedAndPartialModelsHaveNoErrors) {
    ScratchFolder folder;
    const std::pair<const char*, const char*> models[] = {
        {"bare", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3 4\n"},
        {"normals", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 5\nf 1//1 2//1 3//1\nf 1 3 2\n"},
        {"mixed", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0.5 0.5\nf 1/1 2 3\nusemtl x\nf -1 -3 -2\n"},
    };
    for (const auto& [name, text] : models) {
        const fs::path input = folder / name;
        fs::create_directory(input);
        writeFile(input / "model.obj", text);
        ASSERT_TRUE(GlbWriter::convert(input, folder / (std::string(name) + ".glb"))) << name;
        SCOPED_TRACE(name);
        expectValid(folder / (std::string(name) + ".glb"));
    }
}

}  // namespace
}  // namespace pelorin::engine
