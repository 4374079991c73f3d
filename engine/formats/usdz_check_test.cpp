#include "engine/formats/usdz_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/zip_builder.h"

namespace pelorin::engine {
namespace {

using pelorin::testing::storedZip;

const std::vector<std::pair<std::string, std::string>> package = {{"scene.usda", "#usda 1.0\n"},
                                                                  {"textures/a.png", "png bytes"}};

TEST(UsdzCheck, WellFormedPackagesPass) {
    EXPECT_FALSE(findUsdzDefect(storedZip(package)));
    EXPECT_TRUE(isUsdzPackage(storedZip({{"Model.USDC", "PXR-USDC"}})));
    EXPECT_TRUE(isUsdzPackage(storedZip({{"mod\xC3\xA8le.usda", ""}})));
    // The longest archive comment still leaves the end record within reach.
    EXPECT_FALSE(findUsdzDefect(storedZip(package, 65535)));
}

TEST(UsdzCheck, FirstEntryMustBeAReadableLayer) {
    EXPECT_EQ(findUsdzDefect(storedZip({{"texture.png", "png bytes"}, {"scene.usda", ""}})),
              UsdzDefect::badFirstEntry);
    EXPECT_EQ(findUsdzDefect(storedZip({{"scene.usda.png", "x"}})), UsdzDefect::badFirstEntry);
    EXPECT_EQ(findUsdzDefect(storedZip({{"sc\xFF\xFE.usda", "x"}})), UsdzDefect::badFirstEntry);
    EXPECT_EQ(findUsdzDefect(storedZip({{"\xED\xA0\x80.usda", "x"}})), UsdzDefect::badFirstEntry)
        << "an encoded surrogate is not UTF-8";
    EXPECT_EQ(findUsdzDefect(storedZip({{"\xC0\xAE.usda", "x"}})), UsdzDefect::badFirstEntry)
        << "an overlong form is not UTF-8";
    Bytes cut = storedZip(package);
    cut[26] = 0xFF;  // a name longer than the file
    cut[27] = 0xFF;
    EXPECT_EQ(findUsdzDefect(cut), UsdzDefect::badFirstEntry);
}

TEST(UsdzCheck, SizeAndSignatures) {
    Bytes zip = storedZip(package);
    EXPECT_EQ(findUsdzDefect(Bytes(zip.begin(), zip.begin() + 51)), UsdzDefect::tooShort);
    EXPECT_EQ(findUsdzDefect(Bytes()), UsdzDefect::tooShort);
    Bytes notZip = zip;
    notZip[0] = 'X';
    EXPECT_EQ(findUsdzDefect(notZip), UsdzDefect::noLocalHeader);
    // Cutting the end record short, or dropping it, leaves none.
    EXPECT_EQ(findUsdzDefect(Bytes(zip.begin(), zip.end() - 1)), UsdzDefect::noEndRecord);
    EXPECT_EQ(findUsdzDefect(Bytes(zip.begin(), zip.end() - 22)), UsdzDefect::noEndRecord);
    // An end record hidden behind a comment longer than any real one is not searched for.
    Bytes farAway = storedZip(package);
    farAway.insert(farAway.end(), 65536, 'c');
    EXPECT_EQ(findUsdzDefect(farAway), UsdzDefect::noEndRecord);
}

TEST(UsdzCheck, EndRecordContents) {
    const Bytes zip = storedZip(package);
    const std::size_t end = zip.size() - 22;
    Bytes noEntries = zip;
    noEntries[end + 10] = 0;
    noEntries[end + 11] = 0;
    EXPECT_EQ(findUsdzDefect(noEntries), UsdzDefect::noEntries);

    Bytes overlapping = zip;
    overlapping[end + 12] += 1;  // directory size one byte too long
    EXPECT_EQ(findUsdzDefect(overlapping), UsdzDefect::badDirectory);

    Bytes huge = zip;  // size + offset would wrap in 32 bits
    for (int i = 12; i < 20; ++i) huge[end + i] = 0xFF;
    EXPECT_EQ(findUsdzDefect(huge), UsdzDefect::badDirectory);
}

}  // namespace
}  // namespace pelorin::engine
