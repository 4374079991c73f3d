#include "link/frames/frame_parser.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "link/frames/frame_codec.h"

namespace pelorin::link {

namespace {

constexpr std::size_t compactionThreshold = 4 * 1024 * 1024;

std::uint64_t readBigEndian(const std::uint8_t* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

}  // namespace

pelorin::Expected<std::optional<Frame>, FrameParseError> FrameParser::next() {
    const std::size_t available = buffer_.size() - readIndex_;
    if (available < FrameCodec::prefixSize) return std::optional<Frame>();
    const std::uint8_t* prefix = buffer_.data() + readIndex_;
    if (std::memcmp(prefix, FrameCodec::magic, 4) != 0) {
        return pelorin::unexpected(FrameParseError(FrameError::badMagic()));
    }
    const std::uint64_t headerLength = readBigEndian(prefix + 4, 4);
    const std::uint64_t bodyLength = readBigEndian(prefix + 8, 8);
    if (headerLength > LinkConstants::maxHeaderBytes) {
        return pelorin::unexpected(
            FrameParseError(FrameError::headerTooLarge(static_cast<std::int64_t>(headerLength))));
    }
    if (bodyLength > std::min(maxBody_, LinkConstants::maxBodyBytes)) {
        return pelorin::unexpected(FrameParseError(FrameError::bodyTooLarge(bodyLength)));
    }
    // Both lengths are bounded above, so the sum cannot overflow.
    const std::uint64_t frameLength = FrameCodec::prefixSize + headerLength + bodyLength;
    if (available < frameLength) return std::optional<Frame>();

    const auto* header = reinterpret_cast<const char*>(prefix + FrameCodec::prefixSize);
    auto message = makeRecordDecoder().decode<LinkMessage>(std::string_view(header, headerLength));
    if (!message) return pelorin::unexpected(FrameParseError(message.error()));
    const std::uint8_t* body = prefix + FrameCodec::prefixSize + headerLength;
    Frame frame{std::move(message.value()), std::vector<std::uint8_t>(body, body + bodyLength)};
    readIndex_ += frameLength;
    return std::optional<Frame>(std::move(frame));
}

pelorin::Expected<std::vector<Frame>, FrameParseError> FrameParser::feed(
    std::span<const std::uint8_t> bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    std::vector<Frame> frames;
    while (true) {
        auto frame = next();
        if (!frame) return pelorin::unexpected(frame.error());
        if (!frame.value()) break;
        frames.push_back(std::move(*frame.value()));
    }
    compact();
    return frames;
}

void FrameParser::compact() {
    if (readIndex_ == buffer_.size()) {
        buffer_.clear();
        readIndex_ = 0;
    } else if (readIndex_ > compactionThreshold && readIndex_ > buffer_.size() / 2) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(readIndex_));
        readIndex_ = 0;
    }
}

}  // namespace pelorin::link
