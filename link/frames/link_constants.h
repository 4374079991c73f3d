#pragma once

#include <cstdint>
#include <string_view>

// The messages, which check the protocol version, sit below the frames.
#include "link/messages/protocol_version.h"

// Values both ends of the protocol share.
namespace pelorin::link::LinkConstants {

// DNS-SD service type under which the desktop advertises itself.
inline constexpr std::string_view serviceType = "_pelorin._tcp";
// Largest accepted JSON header of a frame.
inline constexpr std::uint32_t maxHeaderBytes = 1'048'576;
// Largest accepted frame body; no parser limit can lift it.
inline constexpr std::uint64_t maxBodyBytes = 536'870'912;

}  // namespace pelorin::link::LinkConstants
