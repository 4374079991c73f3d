#include "common/files/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/files/file_reader.h"
#include "common/files/folder_listing.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::common {
namespace {

namespace fs = std::filesystem;
using pelorin::testing::ScratchFolder;

std::size_t entryCount(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicFile, CreatesAndReplacesWithoutLeavingTemporaryFiles) {
    ScratchFolder folder;
    ASSERT_TRUE(writeFileAtomically(folder / "f.bin", bytesOf("first, longer content")));
    ASSERT_TRUE(writeFileAtomically(folder / "f.bin", bytesOf("second")));
    EXPECT_EQ(testing::readText(folder / "f.bin"), "second");
    EXPECT_EQ(entryCount(folder.path()), 1u);
    EXPECT_EQ(fs::status(folder / "f.bin").permissions(), defaultFilePermissions);

    ASSERT_TRUE(writeFileAtomically(folder / "key", bytesOf("k"),
                                    fs::perms::owner_read | fs::perms::owner_write));
    EXPECT_EQ(fs::status(folder / "key").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically(folder / "empty", Bytes()));
    EXPECT_EQ(fs::file_size(folder / "empty"), 0u);
}

TEST(AtomicFile, PiecesAreWrittenInOrder) {
    ScratchFolder folder;
    const std::span<const std::uint8_t> pieces[] = {bytesOf("one,"), {}, bytesOf("two")};
    ASSERT_TRUE(writeFileAtomically(folder / "f", pieces));
    EXPECT_EQ(testing::readText(folder / "f"), "one,two");
}

TEST(AtomicFile, FailureKeepsTheOldFileAndReportsTheSystemsReason) {
    ScratchFolder folder;
    auto missing = writeFileAtomically(folder / "no" / "f.bin", bytesOf("x"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().operation, FileError::Operation::write);
    EXPECT_EQ(missing.error().description(), "Could not write the file: No such file or directory");

    // A folder cannot be replaced by a file: the rename fails after the data was written.
    fs::create_directory(folder / "taken");
    testing::writeFile(folder / "taken" / "inside", "old");
    auto overFolder = writeFileAtomically(folder / "taken", bytesOf("new"));
    ASSERT_FALSE(overFolder);
    EXPECT_EQ(testing::readText(folder / "taken" / "inside"), "old");
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

// The range-for form of a listing throws when reading fails part-way; on a worker thread that
// ended the program. A failure part-way must come back as the listing's error instead.
TEST(FolderListing, AFailurePartWayIsTheListingsError) {
    testing::ScratchFolder folder;
    testing::writeFile(folder / "a.jpg", "a");
    int calls = 0;
    const auto listed =
        collectEntries([&](std::error_code& error) -> std::optional<fs::directory_entry> {
            if (++calls <= 2) return fs::directory_entry(folder / "a.jpg");
            error = std::make_error_code(std::errc::io_error);
            return std::nullopt;
        });
    ASSERT_FALSE(listed);
    EXPECT_EQ(listed.error(), std::make_error_code(std::errc::io_error).message());

    EXPECT_FALSE(listFolderEntries(folder / "missing"));
    const auto real = listFolderEntries(folder.path());
    ASSERT_TRUE(real) << real.error();
    ASSERT_EQ(real->size(), 1u);
    EXPECT_EQ(real->front().path().filename(), "a.jpg");
}

}  // namespace
}  // namespace pelorin::common
