#include "engine/photos/photo_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "common/uuid.h"
#include "engine/photos/natural_order.h"
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

class PhotoSearch : public ::testing::Test {
  protected:
    // Creates `count` photos in a folder below the scratch folder.
    std::filesystem::path photos(const std::string& folder, int count) {
        const auto path = scratch_ / folder;
        std::filesystem::create_directories(path);
        for (int i = 0; i < count; ++i)
            testing::writeFile(path / ("IMG_" + std::to_string(i) + ".jpg"), "x");
        return path;
    }
    std::filesystem::path root() const { return scratch_.path(); }
    pelorin::testing::ScratchFolder scratch_;
};

using PhotoFinder::Found;
using PhotoFinder::NoPhotos;

TEST_F(PhotoSearch, TenPhotosInTheChosenFolderEndTheSearch) {
    photos("", 10);
    photos("sub", 500);
    auto outcome = PhotoFinder::find(root());
    ASSERT_TRUE(std::holds_alternative<Found>(outcome));
    EXPECT_EQ(std::get<Found>(outcome).folder, root());
    EXPECT_EQ(std::get<Found>(outcome).photos.size(), 10u);
}

TEST_F(PhotoSearch, TiesKeepTheEarlierCandidate) {
    photos("", 9);
    photos("sub", 9);
    EXPECT_EQ(std::get<Found>(PhotoFinder::find(root())).folder, root());

    const auto three = scratch_ / "x";
    for (int i = 0; i < 3; ++i) testing::writeFile(three / ("p" + std::to_string(i) + ".png"), "x");
    photos("x/b", 5);
    const auto a = photos("x/a", 5);
    EXPECT_EQ(std::get<Found>(PhotoFinder::find(three)).folder, a);
}

TEST_F(PhotoSearch, MoreThanThreeLevelsDownIsNotSearched) {
    photos("x/y/z/w", 50);
    EXPECT_EQ(PhotoFinder::find(root()), PhotoFinder::Outcome(NoPhotos{}));
    photos("x/y/z", 1);
    auto outcome = PhotoFinder::find(root());
    EXPECT_EQ(std::get<Found>(outcome).folder, scratch_ / "x/y/z");
    // The photos come from one folder, in natural order.
    EXPECT_EQ(std::get<Found>(outcome).photos,
              std::vector<std::filesystem::path>{scratch_ / "x/y/z/IMG_0.jpg"});
}

TEST_F(PhotoSearch, ZipHints) {
    EXPECT_EQ(PhotoFinder::find(root()), PhotoFinder::Outcome(NoPhotos{}));
    testing::writeFile(scratch_ / "sub" / "b.zip", "x");
    EXPECT_EQ(PhotoFinder::find(root()), PhotoFinder::Outcome(NoPhotos{"b.zip"}));
    testing::writeFile(scratch_ / "capture.ZIP", "x");
    testing::writeFile(scratch_ / "notes.txt", "x");
    EXPECT_EQ(PhotoFinder::find(root()), PhotoFinder::Outcome(NoPhotos{"capture.ZIP"}));
}

TEST_F(PhotoSearch, UnreadableAndLoopingFolders) {
    auto missing = PhotoFinder::find(scratch_ / "absent");
    ASSERT_TRUE(std::holds_alternative<PhotoFinder::Unreadable>(missing));
    EXPECT_FALSE(std::get<PhotoFinder::Unreadable>(missing).description.empty());

    // A link back to the chosen folder is walked only as deep as the limit allows.
    std::filesystem::create_directory_symlink(root(), scratch_ / "loop");
    photos("deep", 2);
    EXPECT_EQ(std::get<Found>(PhotoFinder::find(root())).folder, scratch_ / "deep");
}

TEST_F(PhotoSearch, ExaminesAtMostThreeThousandFolders) {
    // 3001 empty folders at depth 1 come before the one with photos in name order.
    for (int i = 0; i < 3001; ++i)
        std::filesystem::create_directory(scratch_ / ("a" + std::to_string(i)));
    photos("z", 3);
    EXPECT_EQ(PhotoFinder::find(root()), PhotoFinder::Outcome(NoPhotos{}));
    std::filesystem::remove(scratch_ / "a3000");
    std::filesystem::remove(scratch_ / "a2999");
    EXPECT_EQ(std::get<Found>(PhotoFinder::find(root())).folder, scratch_ / "z");
}

}  // namespace
}  // namespace pelorin::engine
