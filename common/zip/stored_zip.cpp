#include "common/zip/stored_zip.h"

#include <cstring>

#include "common/binary/crc32.h"
#include "common/binary/little_endian.h"
#include "common/zip/zip_format.h"

namespace pelorin::common {

namespace {

using zip::centralHeaderSignature;
using zip::centralHeaderSize;
using zip::endRecordSignature;
using zip::endRecordSize;
using zip::localHeaderSignature;
using zip::localHeaderSize;

}  // namespace

pelorin::Expected<std::vector<StoredEntry>, std::string> readStoredZip(
    std::span<const std::uint8_t> archive) {
    using Result = pelorin::Expected<std::vector<StoredEntry>, std::string>;
    auto fail = [](std::string reason) -> Result { return pelorin::unexpected(std::move(reason)); };
    if (archive.size() < endRecordSize) return fail("too short for a ZIP archive");
    // The end record sits in the last 22 bytes, before a comment of at most 65,535 bytes.
    std::size_t end = archive.size() - endRecordSize;
    const std::size_t lowest = end > 0xFFFF ? end - 0xFFFF : 0;
    while (readLittleEndian<std::uint32_t>(archive, end) != endRecordSignature) {
        if (end == lowest) return fail("no ZIP end record (truncated?)");
        --end;
    }
    const auto count = readLittleEndian<std::uint16_t>(archive, end + 10);
    const std::uint64_t directorySize = readLittleEndian<std::uint32_t>(archive, end + 12);
    const std::uint64_t directoryOffset = readLittleEndian<std::uint32_t>(archive, end + 16);
    if (directoryOffset == 0xFFFFFFFF || count == 0xFFFF) return fail("ZIP64 is not supported");
    if (directoryOffset > end || directorySize > end - directoryOffset)
        return fail("the ZIP directory lies outside the archive");

    std::vector<StoredEntry> entries;
    std::size_t at = static_cast<std::size_t>(directoryOffset);
    const std::size_t directoryEnd = static_cast<std::size_t>(directoryOffset + directorySize);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::string which = "ZIP entry " + std::to_string(i);
        if (directoryEnd - at < centralHeaderSize ||
            readLittleEndian<std::uint32_t>(archive, at) != centralHeaderSignature) {
            return fail(which + ": bad directory record");
        }
        const auto method = readLittleEndian<std::uint16_t>(archive, at + 10);
        const auto crc = readLittleEndian<std::uint32_t>(archive, at + 16);
        const std::uint64_t packed = readLittleEndian<std::uint32_t>(archive, at + 20);
        const std::uint64_t size = readLittleEndian<std::uint32_t>(archive, at + 24);
        const std::size_t nameLength = readLittleEndian<std::uint16_t>(archive, at + 28);
        const std::size_t extraLength = readLittleEndian<std::uint16_t>(archive, at + 30);
        const std::size_t commentLength = readLittleEndian<std::uint16_t>(archive, at + 32);
        const std::uint64_t header = readLittleEndian<std::uint32_t>(archive, at + 42);
        const std::size_t recordLength =
            centralHeaderSize + nameLength + extraLength + commentLength;
        if (recordLength > directoryEnd - at) return fail(which + ": bad directory record");
        StoredEntry entry;
        entry.name.assign(reinterpret_cast<const char*>(archive.data() + at + centralHeaderSize),
                          nameLength);
        at += recordLength;
        if (method != 0 || packed != size) return fail(entry.name + " is compressed");
        if (header > directoryOffset || directoryOffset - header < localHeaderSize ||
            readLittleEndian<std::uint32_t>(archive, static_cast<std::size_t>(header)) !=
                localHeaderSignature) {
            return fail(entry.name + ": bad local header");
        }
        // The local header's name and extra field may differ in length from the directory's.
        const std::uint64_t data = header + localHeaderSize +
                                   readLittleEndian<std::uint16_t>(archive, header + 26) +
                                   readLittleEndian<std::uint16_t>(archive, header + 28);
        if (data > directoryOffset || size > directoryOffset - data)
            return fail(entry.name + " runs past its place in the archive");
        entry.data =
            archive.subspan(static_cast<std::size_t>(data), static_cast<std::size_t>(size));
        if (crc32(entry.data) != crc) return fail(entry.name + " fails its CRC check");
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace pelorin::common
