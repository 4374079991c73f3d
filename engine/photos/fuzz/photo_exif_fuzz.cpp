// libFuzzer target for reading a photo's Exif: photos dropped on the window or sent by a phone
// are anybody's bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/photos/photo_exif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const auto fields = pelorin::engine::parseExif(std::span(data, size))) {
        // Whatever came back must be whole strings of the block's own bytes.
        volatile std::size_t sum =
            fields->make.size() + fields->model.size() + fields->dateTimeOriginal.size();
        (void)sum;
    }
    return 0;
}
