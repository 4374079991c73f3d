#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "common/binary/little_endian.h"
#include "common/bytes.h"
#include "common/zip/stored_zip.h"
#include "common/zip/zip_writer.h"
#include "engine/formats/glb_reader.h"
#include "engine/formats/glb_writer.h"
#include "engine/formats/usdz_reader.h"
#include "engine/formats/usdz_writer.h"
#include "link/records/record_coding.h"
#include "tests/support/test_shapes.h"

namespace pelorin::engine {
namespace {

using link::Json;
namespace fixtures = evaluation::fixtures;

TexturedMesh sample() {
    return fixtures::texturedOf(fixtures::lumpySolid());
}

// What a reader gives back must be what the writer was given: same vertices in the same order,
// same groups, and the very image bytes.
void expectSameModel(const TexturedMesh& read, const TexturedMesh& written,
                     float texcoordTolerance) {
    ASSERT_EQ(read.positions, written.positions);
    ASSERT_EQ(read.normals.size(), written.normals.size());
    for (std::size_t i = 0; i < read.normals.size(); ++i)
        ASSERT_NEAR(read.normals[i], written.normals[i], 1e-6) << i;
    ASSERT_EQ(read.texcoords.size(), written.texcoords.size());
    for (std::size_t i = 0; i < read.texcoords.size(); ++i)
        ASSERT_NEAR(read.texcoords[i], written.texcoords[i], texcoordTolerance) << i;
    EXPECT_TRUE(read.hasNormals);
    EXPECT_TRUE(read.hasTexcoords);
    ASSERT_EQ(read.groups.size(), written.groups.size());
    for (std::size_t g = 0; g < read.groups.size(); ++g) {
        EXPECT_EQ(read.groups[g].indices, written.groups[g].indices) << g;
        ASSERT_TRUE(read.groups[g].texture) << g;
        EXPECT_TRUE(read.groups[g].texture->sameImage(*written.groups[g].texture)) << g;
        EXPECT_EQ(read.groups[g].texture->mime, "image/png");
    }
    EXPECT_FALSE(read.groups[0].texture->sameImage(*read.groups[1].texture));
}

TEST(ModelReaders, ReadBackWhatOurWritersMake) {
    const auto model = sample();
    const auto glb = GlbWriter::buildGLB(model);
    ASSERT_TRUE(glb);
    const auto fromGlb = parseGlb(*glb);
    ASSERT_TRUE(fromGlb) << fromGlb.error();
    // The GLB stores 1 - v; the reader turns it back, exact to a float's rounding.
    expectSameModel(*fromGlb, model, 1e-7f);
    for (std::size_t g = 0; g < model.groups.size(); ++g)
        EXPECT_EQ(fromGlb->groups[g].material, model.groups[g].material);

    const auto usdz = UsdzWriter::buildUSDZ(model);
    ASSERT_TRUE(usdz);
    const auto fromUsdz = parseUsdz(*usdz);
    ASSERT_TRUE(fromUsdz) << fromUsdz.error();
    expectSameModel(*fromUsdz, model, 0);

    // One group: the mesh itself carries the binding, without subsets.
    auto single = model;
    single.groups.resize(1);
    for (std::size_t g = 1; g < model.groups.size(); ++g) {
        single.groups[0].indices.insert(single.groups[0].indices.end(),
                                        model.groups[g].indices.begin(),
                                        model.groups[g].indices.end());
    }
    const auto singleUsdz = parseUsdz(*UsdzWriter::buildUSDZ(single));
    ASSERT_TRUE(singleUsdz) << singleUsdz.error();
    ASSERT_EQ(singleUsdz->groups.size(), 1u);
    EXPECT_EQ(singleUsdz->groups[0].indices, single.groups[0].indices);
    ASSERT_TRUE(singleUsdz->groups[0].texture);
}

// A GLB container around a JSON document and a BIN chunk, without any checks.
Bytes glbOf(const std::string& json, const Bytes& bin) {
    std::string text = json;
    text.resize((text.size() + 3) & ~std::size_t{3}, ' ');
    Bytes out;
    common::appendLittleEndian<std::uint32_t>(out, 0x46546C67);
    common::appendLittleEndian<std::uint32_t>(out, 2);
    common::appendLittleEndian<std::uint32_t>(
        out, static_cast<std::uint32_t>(12 + 8 + text.size() + 8 + bin.size()));
    common::appendLittleEndian<std::uint32_t>(out, static_cast<std::uint32_t>(text.size()));
    common::appendLittleEndian<std::uint32_t>(out, 0x4E4F534A);
    common::appendBytes(out, text.data(), text.size());
    common::appendLittleEndian<std::uint32_t>(out, static_cast<std::uint32_t>(bin.size()));
    common::appendLittleEndian<std::uint32_t>(out, 0x004E4942);
    common::appendBytes(out, bin.data(), bin.size());
    return out;
}

// One triangle: three float positions (36 bytes) then three 32-bit indices (12 bytes).
Json oneTriangle() {
    return Json::parse(R"({
      "asset": {"version": "2.0"},
      "buffers": [{"byteLength": 48}],
      "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 36},
                      {"buffer": 0, "byteOffset": 36, "byteLength": 12}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3"},
                    {"bufferView": 1, "componentType": 5125, "count": 3, "type": "SCALAR"}],
      "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1}]}]
    })");
}

Bytes oneTriangleBin() {
    Bytes bin;
    for (float v : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f})
        common::appendLittleEndian(bin, v);
    for (std::uint32_t i : {0u, 1u, 2u}) common::appendLittleEndian(bin, i);
    return bin;
}

TEST(ModelReaders, DamagedGlbFilesFailWithAReason) {
    ASSERT_TRUE(parseGlb(glbOf(oneTriangle().dump(), oneTriangleBin())));
    struct Case {
        const char* what;
        std::function<void(Json&)> damage;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"view past the chunk", [](Json& j) { j["bufferViews"][1]["byteLength"] = 13; },
         "runs past the BIN chunk"},
        {"view offset near 2^64",
         [](Json& j) { j["bufferViews"][0]["byteOffset"] = 18446744073709551610ull; },
         "runs past the BIN chunk"},
        {"negative offset", [](Json& j) { j["bufferViews"][0]["byteOffset"] = -4; },
         "is not a count"},
        {"count past the view", [](Json& j) { j["accessors"][0]["count"] = 4; },
         "runs past its buffer view"},
        {"huge count", [](Json& j) { j["accessors"][0]["count"] = 1ull << 62; },
         "runs past its buffer view"},
        {"accessor offset", [](Json& j) { j["accessors"][1]["byteOffset"] = 4; },
         "runs past its buffer view"},
        {"index past the vertices", [](Json& j) { j["accessors"][0]["count"] = 2; },
         "past the last vertex"},
        {"two indices", [](Json& j) { j["accessors"][1]["count"] = 2; }, "multiple of three"},
        {"lines", [](Json& j) { j["meshes"][0]["primitives"][0]["mode"] = 1; },
         "not made of triangles"},
        {"no positions",
         [](Json& j) { j["meshes"][0]["primitives"][0]["attributes"] = Json::object(); },
         "missing \"POSITION\""},
        {"missing accessor", [](Json& j) { j["meshes"][0]["primitives"][0]["indices"] = 7; },
         "no accessors[7]"},
        {"missing material", [](Json& j) { j["meshes"][0]["primitives"][0]["material"] = 0; },
         "no materials[0]"},
        {"positions as text", [](Json& j) { j["accessors"][0]["type"] = "SCALAR"; }, "is not VEC3"},
        {"byte positions", [](Json& j) { j["accessors"][0]["componentType"] = 5121; },
         "unexpected component type"},
        {"accessors not a list", [](Json& j) { j["accessors"] = "many"; }, "no accessors[0]"},
        {"external buffer", [](Json& j) { j["buffers"][0]["uri"] = "data.bin"; },
         "outside the file"},
        {"wrong member type", [](Json& j) { j["meshes"][0]["primitives"] = 3; },
         "primitives is not a list"},
        {"no meshes", [](Json& j) { j.erase("meshes"); }, "no meshes"},
        {"tight stride", [](Json& j) { j["bufferViews"][0]["byteStride"] = 4; }, "bad stride"},
    };
    for (const auto& c : cases) {
        Json json = oneTriangle();
        c.damage(json);
        const auto read = parseGlb(glbOf(json.dump(), oneTriangleBin()));
        ASSERT_FALSE(read) << c.what;
        EXPECT_NE(read.error().find(c.reason), std::string::npos) << c.what << ": " << read.error();
        EXPECT_EQ(read.error().find('\n'), std::string::npos);
    }
    // The same few bytes named by a hundred thousand primitives.
    Json repeated = oneTriangle();
    repeated["meshes"][0]["primitives"] = Json::array({repeated["meshes"][0]["primitives"][0]});
    for (int k = 0; k < 100000; ++k)
        repeated["meshes"][0]["primitives"].push_back(repeated["meshes"][0]["primitives"][0]);
    const auto bomb = parseGlb(glbOf(repeated.dump(), oneTriangleBin()));
    ASSERT_FALSE(bomb);
    EXPECT_NE(bomb.error().find("too many times"), std::string::npos) << bomb.error();

    EXPECT_FALSE(parseGlb(glbOf("{\"meshes\": [", oneTriangleBin())));
    EXPECT_FALSE(parseGlb(glbOf(std::string(100000, '[') + std::string(100000, ']'), {})));
    EXPECT_FALSE(parseGlb(glbOf("[1, 2]", {})));

    const Bytes whole = *GlbWriter::buildGLB(sample());
    for (std::size_t cut : {std::size_t{0}, std::size_t{11}, std::size_t{19}, std::size_t{400},
                            whole.size() / 2, whole.size() - 1}) {
        const auto read = parseGlb(std::span(whole).first(cut));
        ASSERT_FALSE(read) << cut;
    }
    // A header that claims no more than the cut keeps the chunks inside what is there.
    Bytes cut(whole.begin(), whole.begin() + whole.size() / 2);
    const auto length = static_cast<std::uint32_t>(cut.size());
    std::memcpy(cut.data() + 8, &length, 4);
    const auto short_ = parseGlb(cut);
    ASSERT_FALSE(short_);
    EXPECT_NE(short_.error().find("runs past the end"), std::string::npos) << short_.error();
}

// A package whose first entry is the given layer text, with one image.
Bytes usdzOf(const std::string& layer, const std::string& imageName = "textures/a.png") {
    common::ZipWriter zip;
    zip.add("model.usda", bytesOf(layer));
    const Bytes image = fixtures::png(cv::Mat(2, 2, CV_8UC3, cv::Scalar(1, 2, 3)));
    zip.add(imageName, image);
    return zip.finish();
}

std::string layerWith(const std::string& counts, const std::string& indices,
                      const std::string& extra = "") {
    return "#usda 1.0\ndef Xform \"Model\"\n{\n    def Mesh \"Mesh\"\n    {\n"
           "        int[] faceVertexCounts = " +
           counts + "\n        int[] faceVertexIndices = " + indices +
           "\n        rel material:binding = </Model/Materials/M>\n"
           "        point3f[] points = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]\n" +
           extra +
           "    }\n    def Scope \"Materials\"\n    {\n        def Material \"M\"\n        {\n"
           "            asset inputs:file = @textures/a.png@\n        }\n    }\n}\n";
}

TEST(ModelReaders, DamagedUsdzPackagesFailWithAReason) {
    // A quad is split into two triangles; the texture comes along.
    const auto quad = parseUsdz(usdzOf(layerWith("[4]", "[0, 1, 2, 3]")));
    ASSERT_TRUE(quad) << quad.error();
    ASSERT_EQ(quad->groups.size(), 1u);
    EXPECT_EQ(quad->groups[0].indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
    EXPECT_TRUE(quad->groups[0].texture);
    EXPECT_FALSE(quad->hasTexcoords);

    struct Case {
        const char* what;
        Bytes package;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"index past the points", usdzOf(layerWith("[3]", "[0, 1, 4]")), "does not exist"},
        {"negative index", usdzOf(layerWith("[3]", "[0, -1, 2]")), "does not exist"},
        {"fractional index", usdzOf(layerWith("[3]", "[0, 1.5, 2]")), "does not exist"},
        {"counts beyond indices", usdzOf(layerWith("[3, 3]", "[0, 1, 2]")), "do not match"},
        {"indices beyond counts", usdzOf(layerWith("[3]", "[0, 1, 2, 3]")), "do not match"},
        {"a two-corner face", usdzOf(layerWith("[2, 2]", "[0, 1, 2, 3]")), "do not match"},
        {"cut-short array", usdzOf(layerWith("[3]", "[0, 1, 2")), "not a number"},
        {"words in an array", usdzOf(layerWith("[3]", "[0, one, 2]")), "not a number"},
        {"no array", usdzOf(layerWith("3", "[0, 1, 2]")), "not an array"},
        {"missing texture", usdzOf(layerWith("[3]", "[0, 1, 2]"), "textures/b.png"),
         "which the package lacks"},
        {"short texture coordinates",
         usdzOf(layerWith("[3]", "[0, 1, 2]", "        texCoord2f[] primvars:st = [(0, 0)]\n")),
         "do not match the points"},
        {"subset past the faces",
         usdzOf(layerWith("[3]", "[0, 1, 2]",
                          "        def GeomSubset \"S\"\n        {\n"
                          "            int[] indices = [1]\n        }\n")),
         "names a face that does not exist"},
        {"a face in two subsets",
         usdzOf(layerWith("[3]", "[0, 1, 2]",
                          "        def GeomSubset \"S\"\n        {\n"
                          "            int[] indices = [0]\n        }\n"
                          "        def GeomSubset \"T\"\n        {\n"
                          "            int[] indices = [0]\n        }\n")),
         "more than one subset"},
        {"unbalanced", usdzOf("#usda 1.0\ndef Mesh \"Mesh\"\n{\n"), "unbalanced"},
        {"binary layer", usdzOf("PXR-USDC"), "not a text layer"},
    };
    for (const auto& c : cases) {
        const auto read = parseUsdz(c.package);
        ASSERT_FALSE(read) << c.what;
        EXPECT_NE(read.error().find(c.reason), std::string::npos) << c.what << ": " << read.error();
    }

    const Bytes whole = *UsdzWriter::buildUSDZ(sample());
    for (std::size_t cut : {std::size_t{0}, std::size_t{21}, whole.size() / 3, whole.size() - 1})
        ASSERT_FALSE(parseUsdz(std::span(whole).first(cut))) << cut;
    Bytes flipped = whole;
    flipped[200] ^= 0x20;  // inside the layer's text
    const auto crc = parseUsdz(flipped);
    ASSERT_FALSE(crc);
    EXPECT_NE(crc.error().find("CRC"), std::string::npos) << crc.error();
    const auto directory = common::readStoredZip(whole);
    ASSERT_TRUE(directory);
    ASSERT_EQ(directory->size(), 3u);  // the layer and two distinct images
    EXPECT_EQ(directory->front().name, "model.usda");
    // The first entry marked deflated in the central directory.
    Bytes compressed = whole;
    std::uint32_t directoryOffset;
    std::memcpy(&directoryOffset, whole.data() + whole.size() - 22 + 16, 4);
    compressed[directoryOffset + 10] = 8;
    const auto deflated = parseUsdz(compressed);
    ASSERT_FALSE(deflated);
    EXPECT_NE(deflated.error().find("model.usda is compressed"), std::string::npos)
        << deflated.error();
}

// Random damage anywhere in a file must give a value or a reason, never a crash or a hang.
TEST(ModelReaders, RandomlyDamagedFilesNeverCrash) {
    const auto model = sample();
    const Bytes glb = *GlbWriter::buildGLB(model);
    const Bytes usdz = *UsdzWriter::buildUSDZ(model);
    std::mt19937 random(7);
    int refused = 0;
    for (int round = 0; round < 600; ++round) {
        for (const Bytes* original : {&glb, &usdz}) {
            Bytes damaged = *original;
            // Damage the small structural parts (headers, JSON, directory) more often than
            // bulk data, where most bytes are.
            const std::size_t head = std::min<std::size_t>(damaged.size(), 2048);
            for (int k = 0; k < 1 + round % 4; ++k) {
                const std::size_t at =
                    round % 2 ? random() % head : damaged.size() - 1 - random() % head;
                damaged[at] = static_cast<std::uint8_t>(random());
            }
            const auto read = original == &glb ? parseGlb(damaged) : parseUsdz(damaged);
            refused += !read;
        }
    }
    EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace pelorin::engine
