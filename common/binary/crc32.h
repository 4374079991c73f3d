#pragma once

#include <cstdint>
#include <span>

namespace pelorin::common {

// CRC-32 as ZIP and PNG use it (reflected polynomial 0xEDB88320). Pass the previous result as
// crc to continue over several pieces.
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

}  // namespace pelorin::common
