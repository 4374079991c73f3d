#include "evaluation/hold_out.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "link/records/record_coding.h"
#include "tests/support/capture_manifests.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::evaluation {
namespace {

namespace fs = std::filesystem;
using pelorin::testing::readBytes;
using pelorin::testing::ScratchFolder;
using pelorin::testing::writeFile;

TEST(HoldOut, ChoicesSpreadEvenlyOverThePhotos) {
    EXPECT_EQ(spreadChoice(72, 4), (std::vector<std::size_t>{9, 27, 45, 63}));
    EXPECT_EQ(spreadChoice(10, 1), (std::vector<std::size_t>{5}));
    EXPECT_EQ(spreadChoice(3, 3), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_TRUE(spreadChoice(5, 0).empty());
    EXPECT_TRUE(spreadChoice(3, 4).empty());
    EXPECT_TRUE(spreadChoice(0, 1).empty());
    for (std::size_t count = 1; count <= 120; ++count) {
        for (std::size_t chosen = 1; chosen <= count; ++chosen) {
            const auto positions = spreadChoice(count, chosen);
            ASSERT_EQ(positions.size(), chosen);
            ASSERT_LT(positions.back(), count);
            // Distinct, in order, and as evenly apart as whole numbers allow, with the margins
            // at both ends about half a gap.
            std::size_t low = count, high = 0;
            for (std::size_t k = 1; k < chosen; ++k) {
                ASSERT_GT(positions[k], positions[k - 1]) << count << " " << chosen;
                low = std::min(low, positions[k] - positions[k - 1]);
                high = std::max(high, positions[k] - positions[k - 1]);
            }
            if (chosen > 1) {
                ASSERT_LE(high - low, 1u) << count << " " << chosen;
            }
            const std::size_t before = positions.front(), after = count - 1 - positions.back();
            ASSERT_LE(before > after ? before - after : after - before, 1u)
                << count << " " << chosen;
        }
    }
}

link::CaptureManifest captureOf(int photos) {
    auto manifest = pelorin::testing::captureManifest(
        photos, {.name = "Lion", .first = 1001, .bytes = 3, .gravity = link::Vector3{0, -1, 0}});
    manifest.objectBounds = link::ObjectBounds{{0, 0.4f, 0}, 0.3f, 0.8f};
    return manifest;
}

TEST(HoldOut, TheCopyLacksTheHeldOutPhotosAndTheirRecords) {
    ScratchFolder scratch;
    const fs::path photos = scratch / "photos";
    const auto capture = captureOf(12);
    for (const auto& image : capture.images) writeFile(photos / image.fileName, image.fileName);
    writeFile(photos / "capture.json", link::makeRecordEncoder().encode(capture));
    writeFile(photos / "notes.txt", "kept");
    writeFile(photos / "depth" / "IMG_1001.tif", "not a photo of the set");

    const std::vector<std::string> held = {"IMG_1002.jpg", "IMG_1006.jpg", "IMG_1011.jpg"};
    const auto copied = copyWithout(photos, held, scratch / "work" / "photos");
    ASSERT_TRUE(copied) << copied.error();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch / "work" / "photos"))
        names.push_back(entry.path().filename().string());
    std::ranges::sort(names);
    std::vector<std::string> expected = {"capture.json", "notes.txt"};
    for (const auto& image : capture.images) {
        if (std::ranges::find(held, image.fileName) == held.end())
            expected.push_back(image.fileName);
    }
    std::ranges::sort(expected);
    EXPECT_EQ(names, expected);
    const std::string kept = "IMG_1012.jpg";
    EXPECT_EQ(readBytes(scratch / "work" / "photos" / kept), readBytes(photos / kept));

    // The record keeps everything else as it was.
    const auto bytes = readBytes(scratch / "work" / "photos" / "capture.json");
    const auto decoded = link::makeRecordDecoder().decode<link::CaptureManifest>(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    ASSERT_TRUE(decoded) << decoded.error().message;
    auto remaining = capture;
    std::erase_if(remaining.images, [&](const link::ImageRecord& image) {
        return std::ranges::find(held, image.fileName) != held.end();
    });
    EXPECT_EQ(remaining.images.size(), 9u);
    EXPECT_EQ(*decoded, remaining);
}

TEST(HoldOut, CopiesWithoutARecordAndRefusesAnUnreadableOne) {
    ScratchFolder scratch;
    writeFile(scratch / "a" / "IMG_1.jpg", "1");
    writeFile(scratch / "a" / "IMG_2.jpg", "2");
    ASSERT_TRUE(copyWithout(scratch / "a", {"IMG_2.jpg"}, scratch / "b"));
    EXPECT_TRUE(fs::exists(scratch / "b" / "IMG_1.jpg"));
    EXPECT_FALSE(fs::exists(scratch / "b" / "IMG_2.jpg"));
    EXPECT_FALSE(fs::exists(scratch / "b" / "capture.json"));

    writeFile(scratch / "a" / "capture.json", "{\"images\": [");
    const auto corrupt = copyWithout(scratch / "a", {"IMG_2.jpg"}, scratch / "c");
    ASSERT_FALSE(corrupt);
    EXPECT_NE(corrupt.error().find("capture.json"), std::string::npos) << corrupt.error();
    EXPECT_EQ(corrupt.error().find('\n'), std::string::npos);

    const auto missing = copyWithout(scratch / "absent", {}, scratch / "d");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("absent"), std::string::npos) << missing.error();
}

}  // namespace
}  // namespace pelorin::evaluation
