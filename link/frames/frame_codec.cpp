#include "link/frames/frame_codec.h"

#include <cstring>

#include "link/frames/frame.h"

namespace pelorin::link {

std::string FrameError::description() const {
    switch (kind) {
        case Kind::headerTooLarge:
            return "Message header too large (" + std::to_string(headerLength) + " bytes).";
        case Kind::bodyTooLarge:
            return "Message body too large (" + std::to_string(bodyLength) + " bytes).";
        case Kind::badMagic:
            return "The other device is not running Pelorin.";
    }
    return {};
}

std::string description(const FrameParseError& error) {
    if (auto* frame = std::get_if<FrameError>(&error)) return frame->description();
    return std::get<DecodingError>(error).message;
}

namespace {

void putBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> FrameCodec::encode(const LinkMessage& message,
                                             std::span<const std::uint8_t> body) {
    const std::string header = makeRecordEncoder().encode(message);
    std::vector<std::uint8_t> frame;
    frame.reserve(prefixSize + header.size() + body.size());
    // Byte by byte: GCC 12 misreads a range insert into the reserved vector as an overflow.
    for (const auto byte : magic) frame.push_back(static_cast<std::uint8_t>(byte));
    putBigEndian(frame, header.size(), 4);
    putBigEndian(frame, body.size(), 8);
    frame.insert(frame.end(), header.begin(), header.end());
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

}  // namespace pelorin::link
