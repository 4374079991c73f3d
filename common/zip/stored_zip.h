#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/expected.h"

namespace pelorin::common {

// One entry of a ZIP archive whose entries are stored uncompressed, as a view into it.
struct StoredEntry {
    std::string name;
    std::span<const std::uint8_t> data;
};

// The entries of an uncompressed ZIP archive (a USDZ package), in central-directory order.
// Every header, offset and length is checked against the archive and every entry against its
// CRC; compressed entries and ZIP64 archives are refused with a one-line reason.
pelorin::Expected<std::vector<StoredEntry>, std::string> readStoredZip(
    std::span<const std::uint8_t> archive);

}  // namespace pelorin::common
