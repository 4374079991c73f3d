#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine/file_error.h"
#include "link/expected.h"

namespace pelorin::engine {

using Bytes = std::vector<std::uint8_t>;

// The whole content of a regular file. Anything that is not a regular file (a folder, a FIFO,
// a device) and anything over maxBytes is refused, so a hostile name cannot block the reader
// or exhaust memory.
Expected<Bytes, FileError> readFile(const std::filesystem::path& path, std::uint64_t maxBytes);

}  // namespace pelorin::engine
