#include "common/files/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/files/file_reader.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::common {
namespace {

namespace fs = std::filesystem;
using pelorin::testing::ScratchFolder;

Bytes copyOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::size_t entryCount(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicFile, CreatesAndReplacesWithoutLeavingTemporaryFiles) {
    ScratchFolder folder;
    ASSERT_TRUE(writeFileAtomically(folder / "f.bin", copyOf("first, longer content")));
    ASSERT_TRUE(writeFileAtomically(folder / "f.bin", copyOf("second")));
    EXPECT_EQ(testing::readBytes(folder / "f.bin"), copyOf("second"));
    EXPECT_EQ(entryCount(folder.path()), 1u);
    EXPECT_EQ(fs::status(folder / "f.bin").permissions(), defaultFilePermissions);

    ASSERT_TRUE(writeFileAtomically(folder / "key", copyOf("k"),
                                    fs::perms::owner_read | fs::perms::owner_write));
    EXPECT_EQ(fs::status(folder / "key").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically(folder / "empty", Bytes()));
    EXPECT_EQ(fs::file_size(folder / "empty"), 0u);
}

TEST(AtomicFile, PiecesAreWrittenInOrder) {
    ScratchFolder folder;
    const Bytes first = copyOf("one,"), second = copyOf("two");
    const std::span<const std::uint8_t> pieces[] = {first, {}, second};
    ASSERT_TRUE(writeFileAtomically(folder / "f", pieces));
    EXPECT_EQ(testing::readBytes(folder / "f"), copyOf("one,two"));
}

TEST(AtomicFile, FailureKeepsTheOldFileAndReportsTheSystemsReason) {
    ScratchFolder folder;
    auto missing = writeFileAtomically(folder / "no" / "f.bin", copyOf("x"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().operation, FileError::Operation::write);
    EXPECT_EQ(missing.error().description(), "Could not write the file: No such file or directory");

    // A folder cannot be replaced by a file: the rename fails after the data was written.
    fs::create_directory(folder / "taken");
    testing::writeFile(folder / "taken" / "inside", "old");
    auto overFolder = writeFileAtomically(folder / "taken", copyOf("new"));
    ASSERT_FALSE(overFolder);
    EXPECT_EQ(testing::readBytes(folder / "taken" / "inside"), copyOf("old"));
    EXPECT_EQ(entryCount(folder.path()), 1u) << "the temporary file must be removed";
}

TEST(FileReader, ReadsRegularFilesWithinTheLimitOnly) {
    ScratchFolder folder;
    testing::writeFile(folder / "f", "12345");
    const auto file = readFile(folder / "f", 5);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->text(), "12345");
    testing::writeFile(folder / "empty", "");
    const auto empty = readFile(folder / "empty", 0);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->bytes().empty());
    const auto tooLarge = readFile(folder / "f", 4);
    ASSERT_FALSE(tooLarge);
    EXPECT_EQ(tooLarge.error().reason, "File too large");
    EXPECT_FALSE(readFile(folder.path(), 100));
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readFile(folder / "fifo", 100));
    EXPECT_FALSE(readFile("/dev/zero", 1u << 30));
}

}  // namespace
}  // namespace pelorin::common
