#include "link/records/capture_records.h"

#include <gtest/gtest.h>

#include "tests/support/scratch_folder.h"

#include <filesystem>
#include <fstream>

namespace pelorin::link {
namespace {

CaptureManifest manifestNamed(std::vector<std::string> names) {
    CaptureManifest manifest;
    manifest.id = Uuid::random();
    for (auto& name : names) manifest.images.push_back(ImageRecord{.fileName = std::move(name)});
    return manifest;
}

std::vector<std::string> numberedNames(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("IMG_" + std::to_string(i) + ".HEIC");
    return names;
}

constexpr const char* badName =
    "A photo in this capture has a name Studio cannot store. Take the capture again.";
constexpr const char* duplicateName =
    "Two photos in this capture have the same name. Take the capture again.";

TEST(ManifestValidation, CountsComeFirst) {
    EXPECT_EQ(manifestNamed({}).validationMessage(), "This capture has no photos.");
    EXPECT_EQ(manifestNamed(numberedNames(2001)).validationMessage(),
              "This capture has too many photos (2001, at most 2000).");
    EXPECT_EQ(manifestNamed(numberedNames(2000)).validationMessage(), std::nullopt);
}

TEST(ManifestValidation, DuplicatesAreReportedBeforeBadNames) {
    EXPECT_EQ(manifestNamed({"capture.json", "capture.json"}).validationMessage(), duplicateName);
    EXPECT_EQ(manifestNamed({"a.jpg", "b.jpg", "a.jpg"}).validationMessage(), duplicateName);
}

TEST(ManifestValidation, CanonicallyEquivalentNamesAreDuplicates) {
    // "é" precomposed (U+00E9) and decomposed (e + U+0301).
    EXPECT_EQ(manifestNamed({"caf\xC3\xA9.jpg", "cafe\xCC\x81.jpg"}).validationMessage(),
              duplicateName);
    // Letter case is not equivalence.
    EXPECT_EQ(manifestNamed({"a.jpg", "A.jpg"}).validationMessage(), std::nullopt);
}

TEST(ManifestValidation, RejectsNamesThatCannotBeStored) {
    for (const char* name :
         {"", ".hidden.jpg", "a/b.jpg", "a\\b.jpg", "capture.json", "a:b.jpg", "a?.jpg",
          "tab\there.jpg", "a<b.jpg", "a>b.jpg", "a\"b.jpg", "a|b.jpg", "a*b.jpg", "nl\n.jpg"}) {
        EXPECT_EQ(manifestNamed({"ok.jpg", name}).validationMessage(), badName) << name;
    }
}

TEST(ManifestValidation, AcceptsOrdinaryNames) {
    EXPECT_EQ(
        manifestNamed({"Capture.JSON", "IMG_0001.JPG", "my photo 2.heic",
                       "\xE5\x86\x99\xE7\x9C\x9F.jpg", "\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE.png"})
            .validationMessage(),
        std::nullopt);
}

class MissingFiles : public ::testing::Test {
  protected:
    void write(const std::string& name, std::size_t size) {
        std::ofstream(folder_ / name, std::ios::binary) << std::string(size, 'x');
    }
    pelorin::testing::ScratchFolder scratch_;
    const std::filesystem::path folder_ = scratch_.path();
};

TEST_F(MissingFiles, ComparesRecordedSizesExactly) {
    write("exact.jpg", 100);
    write("longer.jpg", 101);
    write("shorter.jpg", 99);
    auto manifest = manifestNamed({"exact.jpg", "longer.jpg", "shorter.jpg", "absent.jpg"});
    for (auto& image : manifest.images) image.bytes = 100;
    EXPECT_EQ(manifest.missingFiles(folder_),
              (std::vector<std::string>{"longer.jpg", "shorter.jpg", "absent.jpg"}));
}

TEST_F(MissingFiles, WithoutSizeOnlyEmptyOrAbsentFilesAreMissing) {
    write("empty.jpg", 0);
    write("full.jpg", 5);
    std::filesystem::create_directory(folder_ / "folder.jpg");
    auto manifest = manifestNamed({"empty.jpg", "full.jpg", "folder.jpg"});
    EXPECT_EQ(manifest.missingFiles(folder_),
              (std::vector<std::string>{"empty.jpg", "folder.jpg"}));
}

}  // namespace
}  // namespace pelorin::link
