#include "common/zip/zip_writer.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "common/binary/crc32.h"
#include "common/binary/little_endian.h"
#include "common/zip/zip_format.h"

namespace pelorin::common {

namespace {

using zip::centralHeaderSignature;
using zip::endRecordSignature;
using zip::localHeaderSignature;
using zip::localHeaderSize;

constexpr std::uint16_t versionNeeded = 10;  // stored entries, no extensions
constexpr std::uint16_t utf8NamesFlag = 0x0800;
constexpr std::uint16_t dosDate1980 = (1 << 5) | 1;  // 1980-01-01, so archives are reproducible
constexpr std::uint16_t paddingFieldId = 0x5050;     // a private extra-field id; readers skip it
// ZIP64 marks its fields with all ones, so plain ZIP values must stay below that.
constexpr std::uint64_t maxField = std::numeric_limits<std::uint32_t>::max() - 1;

std::uint16_t flagsFor(std::string_view name) {
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? 0 : utf8NamesFlag;
}

// The fields that the local and central headers share, from "version needed" to the lengths.
void appendCommonFields(Bytes& out, std::string_view name, std::uint32_t crc, std::uint32_t size,
                        std::uint16_t extraLength) {
    appendLittleEndian(out, versionNeeded);
    appendLittleEndian(out, flagsFor(name));
    appendLittleEndian<std::uint16_t>(out, 0);  // stored
    appendLittleEndian<std::uint16_t>(out, 0);  // time 00:00:00
    appendLittleEndian(out, dosDate1980);
    appendLittleEndian(out, crc);
    appendLittleEndian(out, size);  // compressed
    appendLittleEndian(out, size);  // uncompressed
    appendLittleEndian(out, static_cast<std::uint16_t>(name.size()));
    appendLittleEndian(out, extraLength);
}

}  // namespace

ZipWriter::ZipWriter(std::size_t alignment)
    : alignment_(std::clamp<std::size_t>(alignment, 1, 4096)) {}

bool ZipWriter::add(std::string_view name, std::span<const std::uint8_t> data) {
    const std::size_t headerOffset = archive_.size();
    std::size_t padding =
        (alignment_ - (headerOffset + localHeaderSize + name.size()) % alignment_) % alignment_;
    // An extra field needs four bytes of its own header.
    if (padding > 0 && padding < 4)
        padding += alignment_ * ((4 - padding + alignment_ - 1) / alignment_);
    const std::uint64_t end = headerOffset + localHeaderSize + name.size() + padding + data.size();
    if (name.size() > std::numeric_limits<std::uint16_t>::max() || entries_.size() >= 0xFFFF ||
        data.size() > maxField || end > maxField) {
        return false;
    }
    const std::uint32_t crc = crc32(data);
    const auto size = static_cast<std::uint32_t>(data.size());
    archive_.reserve(end);
    appendLittleEndian(archive_, localHeaderSignature);
    appendCommonFields(archive_, name, crc, size, static_cast<std::uint16_t>(padding));
    appendBytes(archive_, name.data(), name.size());
    if (padding > 0) {
        appendLittleEndian(archive_, paddingFieldId);
        appendLittleEndian(archive_, static_cast<std::uint16_t>(padding - 4));
        appendZeros(archive_, padding - 4);
    }
    appendBytes(archive_, data.data(), data.size());
    entries_.push_back({std::string(name), crc, size, static_cast<std::uint32_t>(headerOffset)});
    return true;
}

Bytes ZipWriter::finish() {
    const std::size_t directoryOffset = archive_.size();
    for (const Entry& entry : entries_) {
        appendLittleEndian(archive_, centralHeaderSignature);
        appendLittleEndian<std::uint16_t>(archive_, versionNeeded);  // made by: MS-DOS attributes
        appendCommonFields(archive_, entry.name, entry.crc, entry.size, 0);
        appendLittleEndian<std::uint16_t>(archive_, 0);  // comment length
        appendLittleEndian<std::uint16_t>(archive_, 0);  // disk number
        appendLittleEndian<std::uint16_t>(archive_, 0);  // internal attributes
        appendLittleEndian<std::uint32_t>(archive_, 0);  // external attributes
        appendLittleEndian(archive_, entry.headerOffset);
        appendBytes(archive_, entry.name.data(), entry.name.size());
    }
    const std::size_t directorySize = archive_.size() - directoryOffset;
    const auto count = static_cast<std::uint16_t>(entries_.size());
    appendLittleEndian(archive_, endRecordSignature);
    appendLittleEndian<std::uint16_t>(archive_, 0);  // this disk
    appendLittleEndian<std::uint16_t>(archive_, 0);  // disk with the directory
    appendLittleEndian(archive_, count);
    appendLittleEndian(archive_, count);
    appendLittleEndian(archive_, static_cast<std::uint32_t>(directorySize));
    appendLittleEndian(archive_, static_cast<std::uint32_t>(directoryOffset));
    appendLittleEndian<std::uint16_t>(archive_, 0);  // comment length
    entries_.clear();
    return std::exchange(archive_, {});
}

}  // namespace pelorin::common
