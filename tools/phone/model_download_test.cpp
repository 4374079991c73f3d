#include "tools/phone/model_download.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tests/support/scratch_folder.h"
#include "tests/support/zip_builder.h"

namespace pelorin::link {
namespace {

using pelorin::testing::readBytes;
using pelorin::testing::ScratchFolder;
using pelorin::testing::writeFile;

// A one-entry package; without the end record, the last 22 bytes are cut.
Bytes packageWithFirstEntry(const std::string& name, std::size_t commentLength = 0,
                            bool endRecord = true) {
    Bytes zip = pelorin::testing::storedZip({{name, "#usda 1.0\n"}}, commentLength);
    if (!endRecord) zip.resize(zip.size() - 22 - commentLength);
    return zip;
}

// Sends the file as chunks of at most `chunk` bytes, as a desktop does.
void appendAll(ModelDownload& download, const Bytes& file, std::size_t chunk = 1000) {
    for (std::size_t offset = 0; offset < file.size(); offset += chunk) {
        const std::size_t n = std::min(chunk, file.size() - offset);
        ASSERT_TRUE(download.append(std::span(file).subspan(offset, n),
                                    static_cast<std::int64_t>(offset),
                                    static_cast<std::int64_t>(file.size())));
    }
}

class ModelDownloadTest : public ::testing::Test {
  protected:
    ScratchFolder folder;
    Uuid id = *Uuid::parse("0b3a6e1c-51f2-4d7e-9a77-6c2f0e8d4b19");
};

TEST_F(ModelDownloadTest, ChunksAssembleTheFileAndAGoodPackageVerifies) {
    ModelDownload download(id, folder.path());
    EXPECT_EQ(download.fileURL(), folder / "0B3A6E1C-51F2-4D7E-9A77-6C2F0E8D4B19.usdz");
    EXPECT_EQ(download.received(), 0);
    EXPECT_FALSE(download.total());
    const auto created = download.lastChunkAt();
    const Bytes package = packageWithFirstEntry("model.USDC", 1000);
    appendAll(download, package, 4096);
    EXPECT_EQ(download.received(), static_cast<std::int64_t>(package.size()));
    EXPECT_EQ(download.total(), static_cast<std::int64_t>(package.size()));
    EXPECT_GE(download.lastChunkAt(), created);
    ASSERT_TRUE(download.close());
    EXPECT_EQ(readBytes(download.fileURL()), package);
    EXPECT_TRUE(download.verify());
}

TEST_F(ModelDownloadTest, ChunksOutOfOrderOrBeyondTheTotalAreRefusedAndWriteNothing) {
    const Bytes bytes(100, 1);
    {
        ModelDownload download(id, folder.path());
        EXPECT_FALSE(download.append(bytes, 0, 0));
        EXPECT_FALSE(download.total());  // a refused chunk announces nothing
        EXPECT_FALSE(download.append(bytes, 10, 200));
        EXPECT_FALSE(download.append(bytes, 0, 99));
        EXPECT_EQ(download.received(), 0);
        ASSERT_TRUE(download.append(bytes, 0, 150));
        EXPECT_FALSE(download.append(bytes, 100, 150));                       // would end at 200
        EXPECT_FALSE(download.append(std::span(bytes).first(50), 100, 160));  // another total
        EXPECT_FALSE(download.append(std::span(bytes).first(50), 50, 150));   // overlap
        EXPECT_EQ(download.received(), 100);
        ASSERT_TRUE(download.close());
        EXPECT_EQ(readBytes(download.fileURL()).size(), 100u);
        // Incomplete: the size is not the announced total.
        EXPECT_FALSE(download.verify());
        // Closed: nothing more can be written.
        EXPECT_FALSE(download.append(std::span(bytes).first(50), 100, 150));
    }
    ModelDownload unopenable(id, folder / "missing folder");
    EXPECT_FALSE(unopenable.isOpen());
    const auto failure = unopenable.append(bytes, 0, 100);
    ASSERT_FALSE(failure);
    EXPECT_EQ(failure.error().operation, common::FileError::Operation::write);
}

TEST_F(ModelDownloadTest, VerifyAppliesThePackageChecks) {
    struct Case {
        std::string name;
        Bytes file;
        bool passes;
    };
    Bytes tiny = packageWithFirstEntry("a.usda");
    tiny.resize(51);
    const std::vector<Case> cases = {
        {"usda layer first", packageWithFirstEntry("scene.usda"), true},
        {"upper-case usdc", packageWithFirstEntry("MODEL.USDC"), true},
        {"longest comment", packageWithFirstEntry("m.usdc", 65'535), true},
        {"image first", packageWithFirstEntry("texture.png"), false},
        {"no end record", packageWithFirstEntry("m.usdc", 0, false), false},
        {"51 bytes", tiny, false},
        {"not a zip", Bytes(200, 'x'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelDownload download(id, folder.path());
        appendAll(download, c.file);
        ASSERT_TRUE(download.close());
        EXPECT_EQ(bool(download.verify()), c.passes);
    }
    ModelDownload nothing(id, folder.path());
    EXPECT_FALSE(nothing.verify());
}

TEST_F(ModelDownloadTest, NewDownloadStartsEmptyAndDiscardRemovesFiles) {
    writeFile(folder / (id.string() + ".usdz"), std::string(5000, 'o'));
    ModelDownload download(id, folder.path());
    EXPECT_TRUE(readBytes(download.fileURL()).empty());
    appendAll(download, Bytes(10, 2));
    EXPECT_EQ(readBytes(download.fileURL()), Bytes(10, 2));

    std::vector<ModelDownload> downloads;
    downloads.push_back(std::move(download));
    downloads.emplace_back(Uuid::random(), folder.path());
    const auto first = downloads[0].fileURL(), second = downloads[1].fileURL();
    ASSERT_TRUE(std::filesystem::exists(first) && std::filesystem::exists(second));
    discardAll(downloads);
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_FALSE(std::filesystem::exists(second));
    EXPECT_FALSE(downloads[0].isOpen());
    downloads[0].discard();  // twice is harmless
}

}  // namespace
}  // namespace pelorin::link
