#include "studio/app/preview_loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "common/zip/zip_writer.h"
#include "studio/app/preview_placement.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/ui/preview_test_models.h"

namespace pelorin::studio {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::uint32_t read32(const testing::Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

// The entries of a stored package, by walking its local headers.
Entries entriesOf(const testing::Bytes& package) {
    Entries entries;
    std::size_t at = 0;
    while (at + 30 <= package.size() && read32(package, at) == 0x04034b50) {
        const std::size_t size = read32(package, at + 18);
        const std::size_t name = package[at + 26] | package[at + 27] << 8;
        const std::size_t extra = package[at + 28] | package[at + 29] << 8;
        const auto* start = reinterpret_cast<const char*>(package.data() + at + 30);
        entries.emplace_back(std::string(start, name), std::string(start + name + extra, size));
        at += 30 + name + extra + size;
    }
    return entries;
}

testing::Bytes package(const Entries& entries) {
    common::ZipWriter zip;
    for (const auto& [name, data] : entries)
        zip.add(name, {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()});
    return zip.finish();
}

class PreviewLoaderTest : public ::testing::Test {
  protected:
    std::optional<PreviewModel> load(const testing::Bytes& package) {
        const auto file = folder_ / "model.usdz";
        pelorin::testing::writeFile(file, package);
        return loadPreviewModel(file, notCancelled_);
    }
    std::optional<PreviewModel> load(const Entries& entries) { return load(package(entries)); }

    pelorin::testing::ScratchFolder folder_;
    std::atomic<bool> notCancelled_ = false;
    const Entries cube_ = entriesOf(testing::cubeModel(2.0f, Qt::red, Qt::blue));
};

TEST_F(PreviewLoaderTest, TheRebuiltTestPackageLoads) {
    ASSERT_EQ(cube_.size(), 2u);
    const auto model = load(cube_);
    ASSERT_TRUE(model);
    EXPECT_EQ(model->vertexCount, 24u);
    ASSERT_EQ(model->subsets.size(), 1u);
    EXPECT_EQ(model->subsets[0].indices.size(), qsizetype(36 * sizeof(std::uint32_t)));
    EXPECT_EQ(model->subsets[0].textureSize, QSize(64, 64));
    // Top row first: the image's top half, red, starts the pixels.
    EXPECT_EQ(std::uint8_t(model->subsets[0].texture[0]), 255);
    EXPECT_EQ(std::uint8_t(model->subsets[0].texture[2]), 0);
    EXPECT_FLOAT_EQ(model->placement.scale, 0.25f);
}

TEST_F(PreviewLoaderTest, DamagedPackagesGiveNoModel) {
    // Compressed data: the method field of the first local header and its central entry.
    testing::Bytes compressed = package(cube_);
    compressed[8] = 8;
    for (std::size_t at = 0; at + 4 <= compressed.size(); ++at) {
        if (read32(compressed, at) == 0x02014b50) {
            compressed[at + 10] = 8;
            break;
        }
    }
    EXPECT_FALSE(load(compressed));

    const testing::Bytes whole = package(cube_);
    EXPECT_FALSE(load(testing::Bytes(whole.begin(), whole.end() - 30)));
    EXPECT_FALSE(load(testing::Bytes()));

    Entries noTexture = cube_;
    noTexture.pop_back();
    EXPECT_FALSE(load(noTexture));

    Entries badTexture = cube_;
    badTexture.back().second = "not an image at all";
    EXPECT_FALSE(load(badTexture));

    const auto edited = [&](const std::regex& pattern, const std::string& replacement) {
        Entries entries = cube_;
        entries.front().second = std::regex_replace(entries.front().second, pattern, replacement,
                                                    std::regex_constants::format_first_only);
        return entries;
    };
    EXPECT_FALSE(
        load(edited(std::regex(R"(faceVertexIndices = \[\d+)"), "faceVertexIndices = [24")));
    EXPECT_FALSE(
        load(edited(std::regex(R"(faceVertexIndices = \[\d+)"), "faceVertexIndices = [-1")));
    EXPECT_FALSE(load(
        edited(std::regex(R"(faceVertexCounts = \[[^\]]*\])"), "faceVertexCounts = [1000000000]")));
}

TEST_F(PreviewLoaderTest, ACancelledLoadStopsWithoutAModel) {
    const auto file = folder_ / "model.usdz";
    pelorin::testing::writeFile(file, package(cube_));
    std::atomic<bool> cancelled = true;
    EXPECT_FALSE(loadPreviewModel(file, cancelled));
}

TEST(PreviewPlacementTest, LargestSideBecomesHalfAUnitCentredOnTheOrigin) {
    // A 2 m statue standing on the floor, off to one side.
    auto big = placeModel({1.0f, 0.0f, -0.2f}, {1.4f, 2.0f, 0.2f});
    EXPECT_FLOAT_EQ(big.scale, 0.25f);
    EXPECT_FLOAT_EQ(big.offset[0], -1.2f * 0.25f);
    EXPECT_FLOAT_EQ(big.offset[1], -1.0f * 0.25f);
    EXPECT_FLOAT_EQ(big.offset[2], 0.0f);
    // A 2 cm one is scaled up to the same size.
    auto small = placeModel({0, 0, 0}, {0.01f, 0.02f, 0.005f});
    EXPECT_FLOAT_EQ(small.scale * 0.02f, 0.5f);
    EXPECT_FLOAT_EQ(small.offset[1], -0.01f * small.scale);
}

TEST(PreviewPlacementTest, AnEmptyBoxIsOnlyRecentred) {
    auto point = placeModel({3, -2, 5}, {3, -2, 5});
    EXPECT_EQ(point.scale, 1.0f);
    EXPECT_EQ(point.offset, (std::array<float, 3>{-3, 2, -5}));
}

}  // namespace
}  // namespace pelorin::studio
