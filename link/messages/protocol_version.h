#pragma once

// The version of the messages both apps speak; a hello with another one is turned away.
namespace pelorin::link::LinkConstants {

inline constexpr int protocolVersion = 4;

}  // namespace pelorin::link::LinkConstants
