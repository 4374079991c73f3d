#include "link/usdz_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelorin::link {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(Bytes& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void putText(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

// A stored ZIP with the given entries (CRCs are not checked here, so they are left 0), an end
// record and an archive comment.
Bytes makeZip(const std::vector<std::pair<std::string, std::string>>& entries,
              std::size_t commentLength = 0) {
    Bytes zip;
    std::vector<std::uint32_t> offsets;
    for (const auto& [name, data] : entries) {
        offsets.push_back(static_cast<std::uint32_t>(zip.size()));
        put32(zip, 0x04034B50);
        for (int i = 0; i < 5; ++i) put16(zip, 0);  // version, flags, method, time, date
        put32(zip, 0);
        put32(zip, static_cast<std::uint32_t>(data.size()));
        put32(zip, static_cast<std::uint32_t>(data.size()));
        put16(zip, static_cast<std::uint32_t>(name.size()));
        put16(zip, 0);
        putText(zip, name);
        putText(zip, data);
    }
    const auto directory = static_cast<std::uint32_t>(zip.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        put32(zip, 0x02014B50);
        for (int k = 0; k < 6; ++k) put16(zip, 0);  // made by, needed, flags, method, time, date
        put32(zip, 0);
        put32(zip, static_cast<std::uint32_t>(entries[i].second.size()));
        put32(zip, static_cast<std::uint32_t>(entries[i].second.size()));
        put16(zip, static_cast<std::uint32_t>(entries[i].first.size()));
        for (int k = 0; k < 4; ++k) put16(zip, 0);  // extra, comment, disk, internal
        put32(zip, 0);
        put32(zip, offsets[i]);
        putText(zip, entries[i].first);
    }
    const auto directorySize = static_cast<std::uint32_t>(zip.size() - directory);
    put32(zip, 0x06054B50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put32(zip, directorySize);
    put32(zip, directory);
    put16(zip, static_cast<std::uint32_t>(commentLength));
    zip.insert(zip.end(), commentLength, 'c');
    return zip;
}

const std::vector<std::pair<std::string, std::string>> package = {{"scene.usda", "#usda 1.0\n"},
                                                                  {"textures/a.png", "png bytes"}};

TEST(UsdzCheck, WellFormedPackagesPass) {
    EXPECT_FALSE(findUsdzDefect(makeZip(package)));
    EXPECT_TRUE(isUsdzPackage(makeZip({{"Model.USDC", "PXR-USDC"}})));
    EXPECT_TRUE(isUsdzPackage(makeZip({{"mod\xC3\xA8le.usda", ""}})));
    // The longest archive comment still leaves the end record within reach.
    EXPECT_FALSE(findUsdzDefect(makeZip(package, 65535)));
}

TEST(UsdzCheck, FirstEntryMustBeAReadableLayer) {
    EXPECT_EQ(findUsdzDefect(makeZip({{"texture.png", "png bytes"}, {"scene.usda", ""}})),
              UsdzDefect::badFirstEntry);
    EXPECT_EQ(findUsdzDefect(makeZip({{"scene.usda.png", "x"}})), UsdzDefect::badFirstEntry);
    EXPECT_EQ(findUsdzDefect(makeZip({{"sc\xFF\xFE.usda", "x"}})), UsdzDefect::badFirstEntry);
    EXPECT_EQ(findUsdzDefect(makeZip({{"\xED\xA0\x80.usda", "x"}})), UsdzDefect::badFirstEntry)
        << "an encoded surrogate is not UTF-8";
    EXPECT_EQ(findUsdzDefect(makeZip({{"\xC0\xAE.usda", "x"}})), UsdzDefect::badFirstEntry)
        << "an overlong form is not UTF-8";
    Bytes cut = makeZip(package);
    cut[26] = 0xFF;  // a name longer than the file
    cut[27] = 0xFF;
    EXPECT_EQ(findUsdzDefect(cut), UsdzDefect::badFirstEntry);
}

TEST(UsdzCheck, SizeAndSignatures) {
    Bytes zip = makeZip(package);
    EXPECT_EQ(findUsdzDefect(Bytes(zip.begin(), zip.begin() + 51)), UsdzDefect::tooShort);
    EXPECT_EQ(findUsdzDefect(Bytes()), UsdzDefect::tooShort);
    Bytes notZip = zip;
    notZip[0] = 'X';
    EXPECT_EQ(findUsdzDefect(notZip), UsdzDefect::noLocalHeader);
    // Cutting the end record short, or dropping it, leaves none.
    EXPECT_EQ(findUsdzDefect(Bytes(zip.begin(), zip.end() - 1)), UsdzDefect::noEndRecord);
    EXPECT_EQ(findUsdzDefect(Bytes(zip.begin(), zip.end() - 22)), UsdzDefect::noEndRecord);
    // An end record hidden behind a comment longer than any real one is not searched for.
    Bytes farAway = makeZip(package);
    farAway.insert(farAway.end(), 65536, 'c');
    EXPECT_EQ(findUsdzDefect(farAway), UsdzDefect::noEndRecord);
}

TEST(UsdzCheck, EndRecordContents) {
    const Bytes zip = makeZip(package);
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
}  // namespace pelorin::link
