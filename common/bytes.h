#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace pelorin {

// Owned binary data: file contents, frame bodies, keys.
using Bytes = std::vector<std::uint8_t>;

// The bytes of a text, without a copy.
inline std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace pelorin
