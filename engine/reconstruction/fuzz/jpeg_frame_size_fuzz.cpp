// libFuzzer target for the JPEG frame header reader that decides how small a dropped photo is
// decoded: the file is anybody's bytes.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "engine/reconstruction/photo_sample.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    if (const auto frame = pelorin::engine::jpegFrameSize(in)) {
        // A frame header's sizes are 16-bit and never zero.
        if (frame->first <= 0 || frame->second <= 0 || frame->first > 65535 ||
            frame->second > 65535)
            __builtin_trap();
    }
    return 0;
}
