#include "engine/photos/photo_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "engine/photos/natural_order.h"
#include "link/uuid.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::engine {
namespace {

TEST(NaturalOrder, DigitRunsByValueAndCaseInsensitive) {
    std::vector<std::string> names = {"IMG_10.jpg", "img_2.jpg",   "IMG_1.jpg",   "b.jpg",
                                      "A.jpg",      "IMG_002.jpg", "IMG_0100.jpg"};
    std::stable_sort(names.begin(), names.end(),
                     [](const auto& a, const auto& b) { return naturalLess(a, b); });
    EXPECT_EQ(names, (std::vector<std::string>{"A.jpg", "b.jpg", "IMG_1.jpg", "img_2.jpg",
                                               "IMG_002.jpg", "IMG_10.jpg", "IMG_0100.jpg"}));
    EXPECT_FALSE(naturalLess("a", "A"));
    EXPECT_FALSE(naturalLess("A", "a"));
    EXPECT_TRUE(naturalLess("a", "ab"));
    // Digit runs longer than any integer type still compare by value.
    EXPECT_TRUE(naturalLess("x99999999999999999999999", "x100000000000000000000000"));
}

class PhotoListing : public ::testing::Test {
  protected:
    void touch(const std::string& name) { std::ofstream(folder_ / name) << "x"; }
    pelorin::testing::ScratchFolder scratch_;
    const std::filesystem::path folder_ = scratch_.path();
};

TEST_F(PhotoListing, KeepsPhotosOnlyInNaturalOrder) {
    for (const char* name :
         {"IMG_10.jpg", "IMG_2.JPG", "c.HEIC", "d.heif", "e.png", "f.tif", "g.TIFF", "h.jpeg",
          "clip.mov", "anim.gif", "raw.dng", ".hidden.jpg", "capture.json", "noext"}) {
        touch(name);
    }
    std::filesystem::create_directory(folder_ / "photos.jpg");
    std::vector<std::string> names;
    for (const auto& photo : PhotoFinder::photoURLs(folder_))
        names.push_back(photo.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"c.HEIC", "d.heif", "e.png", "f.tif", "g.TIFF",
                                               "h.jpeg", "IMG_2.JPG", "IMG_10.jpg"}));
    EXPECT_FALSE(PhotoFinder::isPhoto(folder_ / "photos.jpg"));
    // A file that cannot be examined still counts when its name says photo.
    EXPECT_TRUE(PhotoFinder::isPhoto(folder_ / "absent.jpg"));
}

TEST_F(PhotoListing, UnlistableFolderIsAnErrorOrEmpty) {
    auto listing = PhotoFinder::listFolder(folder_ / "absent");
    ASSERT_FALSE(listing);
    EXPECT_FALSE(listing.error().empty());
    EXPECT_TRUE(PhotoFinder::photoURLs(folder_ / "absent").empty());
}

}  // namespace
}  // namespace pelorin::engine
