#include "tests/support/zip_builder.h"

#include <cstdint>
#include <string_view>

namespace pelorin::testing {

namespace {

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

}  // namespace

Bytes storedZip(const std::vector<std::pair<std::string, std::string>>& entries,
                std::size_t commentLength) {
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

}  // namespace pelorin::testing
