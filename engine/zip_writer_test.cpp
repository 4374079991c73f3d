#include "engine/zip_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/crc32.h"
#include "engine/test_models.h"

namespace pelorin::engine {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Crc32, KnownValuesAndContinuation) {
    EXPECT_EQ(crc32(bytesOf("")), 0u);
    EXPECT_EQ(crc32(bytesOf("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(bytesOf("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
    // Split at every point, across the eight-byte steps.
    const std::string text = "The quick brown fox jumps over the lazy dog";
    for (std::size_t split = 0; split <= text.size(); ++split) {
        const auto first = crc32(bytesOf(std::string_view(text).substr(0, split)));
        EXPECT_EQ(crc32(bytesOf(std::string_view(text).substr(split)), first), 0x414FA339u)
            << split;
    }
}

TEST(ZipWriter, EveryEntrysDataIsAlignedAndDescribedCorrectly) {
    ZipWriter zip;
    std::vector<std::pair<std::string, std::string>> added;
    // Names and sizes that put the unpadded data start at every remainder modulo 64, including
    // the ones that leave less room than an extra field header.
    for (std::size_t i = 0; i < 70; ++i) {
        std::string name = "entry" + std::string(i % 7, 'n') + std::to_string(i);
        std::string data(i * 13 % 101, static_cast<char>('a' + i % 26));
        ASSERT_TRUE(zip.add(name, bytesOf(data)));
        added.emplace_back(std::move(name), std::move(data));
    }
    const Bytes archive = zip.finish();
    const auto entries = testing::readZipEntries(archive);
    ASSERT_EQ(entries.size(), added.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].name, added[i].first);
        EXPECT_EQ(entries[i].dataOffset % 64, 0u) << entries[i].name;
        EXPECT_EQ(entries[i].size, added[i].second.size());
        EXPECT_EQ(entries[i].crc, crc32(bytesOf(added[i].second)));
        EXPECT_EQ(std::string(archive.begin() + static_cast<std::ptrdiff_t>(entries[i].dataOffset),
                              archive.begin() + static_cast<std::ptrdiff_t>(entries[i].dataOffset +
                                                                            entries[i].size)),
                  added[i].second);
    }
    testing::ScratchFolder folder;
    testing::writeFile(folder / "a.zip", archive);
    const auto test = testing::runCommand("unzip -t '" + (folder / "a.zip").string() + "' 2>&1");
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_NE(test.output.find("No errors detected"), std::string::npos) << test.output;
}

TEST(ZipWriter, RefusesWhatAZipWithoutExtensionsCannotHold) {
    ZipWriter zip;
    EXPECT_FALSE(zip.add(std::string(70000, 'n'), bytesOf("x")));
    EXPECT_TRUE(zip.add("kept", bytesOf("x")));
    const auto entries = testing::readZipEntries(zip.finish());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "kept");
}

TEST(ZipWriter, EmptyArchiveIsJustTheEndRecord) {
    ZipWriter zip;
    const Bytes archive = zip.finish();
    ASSERT_EQ(archive.size(), 22u);
    EXPECT_EQ(archive[0], 0x50);
    EXPECT_EQ(archive[3], 0x06);
}

}  // namespace
}  // namespace pelorin::engine
