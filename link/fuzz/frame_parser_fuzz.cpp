// Feeds arbitrary bytes to a frame parser with a small body limit, in pieces whose sizes come
// from the input, so that every prefix check and every message reader is reached.
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/frames/frame_codec.h"
#include "link/frames/frame_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    pelorin::link::FrameParser parser(1 << 16);
    const std::size_t piece = 1 + data[0] % 64;
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    while (!rest.empty()) {
        const auto n = std::min(piece, rest.size());
        auto frames = parser.feed(rest.first(n));
        if (!frames) break;
        // Whatever decodes must encode again.
        for (const auto& frame : *frames) {
            (void)pelorin::link::FrameCodec::encode(frame.message, frame.body);
        }
        rest = rest.subspan(n);
    }
    return 0;
}
