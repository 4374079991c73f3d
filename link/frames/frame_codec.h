#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "link/messages/link_message.h"

// Frame layout, all integers big-endian: "PLNK", header length (32 bits), body length (64 bits),
// the JSON header, the body.
namespace pelorin::link::FrameCodec {

inline constexpr std::size_t prefixSize = 16;
inline constexpr std::uint8_t magic[4] = {'P', 'L', 'N', 'K'};

// The bytes of one frame. Limits are the receiver's to enforce.
std::vector<std::uint8_t> encode(const LinkMessage& message,
                                 std::span<const std::uint8_t> body = {});

}  // namespace pelorin::link::FrameCodec
