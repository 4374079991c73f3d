#include "common/zip/zip_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "common/binary/crc32.h"
#include "common/bytes.h"
#include "common/zip/stored_zip.h"
#include "tests/support/process_state.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::common {
namespace {

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
    // The reader checks every entry's CRC and that its data lies where its headers say.
    const auto entries = readStoredZip(archive);
    ASSERT_TRUE(entries) << entries.error();
    ASSERT_EQ(entries->size(), added.size());
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const StoredEntry& entry = (*entries)[i];
        EXPECT_EQ(entry.name, added[i].first);
        EXPECT_EQ((entry.data.data() - archive.data()) % 64, 0) << entry.name;
        EXPECT_EQ(std::string(entry.data.begin(), entry.data.end()), added[i].second);
    }
    // And a reader that is not ours agrees.
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
    const Bytes archive = zip.finish();
    const auto entries = readStoredZip(archive);
    ASSERT_TRUE(entries) << entries.error();
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].name, "kept");
}

TEST(ZipWriter, EmptyArchiveIsJustTheEndRecord) {
    ZipWriter zip;
    const Bytes archive = zip.finish();
    ASSERT_EQ(archive.size(), 22u);
    EXPECT_EQ(archive[0], 0x50);
    EXPECT_EQ(archive[3], 0x06);
}

}  // namespace
}  // namespace pelorin::common
