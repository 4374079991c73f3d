#pragma once

#include <cstdint>
#include <vector>

namespace pelorin {

// Owned binary data: file contents, frame bodies, keys.
using Bytes = std::vector<std::uint8_t>;

}  // namespace pelorin
