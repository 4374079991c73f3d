#pragma once

#include <cstddef>
#include <cstdint>

// The fixed parts of a ZIP archive that our writer, checker and reader all rely on.
namespace pelorin::common::zip {

inline constexpr std::uint32_t localHeaderSignature = 0x04034B50;
inline constexpr std::uint32_t centralHeaderSignature = 0x02014B50;
inline constexpr std::uint32_t endRecordSignature = 0x06054B50;
inline constexpr std::size_t localHeaderSize = 30;
inline constexpr std::size_t centralHeaderSize = 46;
inline constexpr std::size_t endRecordSize = 22;

}  // namespace pelorin::common::zip
