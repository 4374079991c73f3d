#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/expected.h"
#include "link/frames/frame.h"
#include "link/frames/link_constants.h"

namespace pelorin::link {

// Cuts a byte stream into frames, however it arrives. Announced lengths are checked as soon as
// a frame's 16-byte prefix is in, before any of its payload is waited for; each body is copied
// once, out of the buffer; consumed bytes are dropped in bulk, never one frame at a time.
// Owned by one connection; not thread-safe. Not to be used again after it has failed.
class FrameParser {
  public:
    explicit FrameParser(std::uint64_t maxBody = LinkConstants::maxBodyBytes) : maxBody_(maxBody) {}

    // Appends bytes and returns every frame now complete, in stream order.
    pelorin::Expected<std::vector<Frame>, FrameParseError> feed(
        std::span<const std::uint8_t> bytes);

    // The next complete frame, or nothing while the buffer does not hold one.
    pelorin::Expected<std::optional<Frame>, FrameParseError> next();

    void setMaxBody(std::uint64_t maxBody) { maxBody_ = maxBody; }
    std::uint64_t maxBody() const { return maxBody_; }

    // For tests and diagnostics.
    std::size_t bufferSize() const { return buffer_.size(); }
    std::size_t readIndex() const { return readIndex_; }

  private:
    void compact();

    std::vector<std::uint8_t> buffer_;
    std::size_t readIndex_ = 0;
    std::uint64_t maxBody_;
};

}  // namespace pelorin::link
