#include "common/files/folder_listing.h"

#include <gtest/gtest.h>

#include "tests/support/scratch_folder.h"

namespace pelorin::common {
namespace {

namespace fs = std::filesystem;

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
