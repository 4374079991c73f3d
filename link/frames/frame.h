#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "link/messages/link_message.h"
#include "link/records/record_coding.h"

namespace pelorin::link {

// One protocol message with its binary body (empty when it has none).
struct Frame {
    LinkMessage message;
    std::vector<std::uint8_t> body;

    bool operator==(const Frame&) const = default;
};

// What the frame parser reports about a malformed stream.
struct [[nodiscard]] FrameError {
    enum class Kind { headerTooLarge, bodyTooLarge, badMagic };

    Kind kind = Kind::badMagic;
    // headerTooLarge: the announced header length.
    std::int64_t headerLength = 0;
    // bodyTooLarge: the announced body length.
    std::uint64_t bodyLength = 0;

    static FrameError headerTooLarge(std::int64_t length) {
        return {Kind::headerTooLarge, length, 0};
    }
    static FrameError bodyTooLarge(std::uint64_t length) { return {Kind::bodyTooLarge, 0, length}; }
    static FrameError badMagic() { return {Kind::badMagic, 0, 0}; }

    std::string description() const;
    bool operator==(const FrameError&) const = default;
};

// A stream that cannot be parsed: a framing fault or a header that does not decode.
using FrameParseError = std::variant<FrameError, DecodingError>;
std::string description(const FrameParseError& error);

}  // namespace pelorin::link
