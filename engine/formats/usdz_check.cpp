#include "engine/formats/usdz_check.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "common/binary/little_endian.h"
#include "common/zip/zip_format.h"

namespace pelorin::engine {

namespace {

using common::zip::endRecordSize;
using common::zip::localHeaderSize;

constexpr std::size_t minimumSize = 52;
constexpr std::size_t maxCommentSize = 65535;

bool isUtf8(std::span<const std::uint8_t> text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned lead = text[i];
        std::size_t length = 1;
        unsigned low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
        } else {
            return false;
        }
        if (text.size() - i < length || text[i + 1] < low || text[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

bool isUsdLayerName(std::span<const std::uint8_t> name) {
    if (!isUtf8(name)) return false;
    std::string lower(name.begin(), name.end());
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    const std::string_view view(lower);
    return view.ends_with(".usdc") || view.ends_with(".usda");
}

// The last position where a whole end record fits and its signature lies, searching back
// over the largest archive comment.
std::optional<std::size_t> findEndRecord(std::span<const std::uint8_t> file) {
    const std::size_t lowest = file.size() > endRecordSize + maxCommentSize
                                   ? file.size() - endRecordSize - maxCommentSize
                                   : 0;
    for (std::size_t at = file.size() - endRecordSize + 1; at-- > lowest;) {
        if (file[at] == 0x50 && file[at + 1] == 0x4B && file[at + 2] == 0x05 &&
            file[at + 3] == 0x06) {
            return at;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<UsdzDefect> findUsdzDefect(std::span<const std::uint8_t> file) {
    if (file.size() < minimumSize) return UsdzDefect::tooShort;
    if (common::readLittleEndian<std::uint32_t>(file, 0) != 0x04034B50)
        return UsdzDefect::noLocalHeader;
    const std::size_t nameLength = common::readLittleEndian<std::uint16_t>(file, 26);
    if (file.size() < localHeaderSize + nameLength ||
        !isUsdLayerName(file.subspan(localHeaderSize, nameLength))) {
        return UsdzDefect::badFirstEntry;
    }
    const auto end = findEndRecord(file);
    if (!end) return UsdzDefect::noEndRecord;
    if (common::readLittleEndian<std::uint16_t>(file, *end + 10) == 0) return UsdzDefect::noEntries;
    const std::uint64_t directoryEnd =
        static_cast<std::uint64_t>(common::readLittleEndian<std::uint32_t>(file, *end + 12)) +
        common::readLittleEndian<std::uint32_t>(file, *end + 16);
    if (directoryEnd > *end) return UsdzDefect::badDirectory;
    return std::nullopt;
}

}  // namespace pelorin::engine
