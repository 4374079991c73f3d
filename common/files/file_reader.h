#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "common/bytes.h"

#include "common/expected.h"
#include "common/files/file_error.h"

namespace pelorin::common {

// The content of a regular file, mapped read-only: models of tens of megabytes and their
// textures are read without a copy. The file must not be truncated while it is mapped; the
// engine's own output files are not touched by anyone else while it converts them.
class MappedFile {
  public:
    MappedFile() = default;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }
    std::string_view text() const { return {reinterpret_cast<const char*>(data_), size_}; }

  private:
    friend Expected<MappedFile, FileError> readFile(const std::filesystem::path&, std::uint64_t);
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Maps a whole regular file. Anything that is not a regular file (a folder, a FIFO, a device)
// and anything over maxBytes is refused, so a hostile name cannot block the reader or exhaust
// memory.
Expected<MappedFile, FileError> readFile(const std::filesystem::path& path, std::uint64_t maxBytes);

}  // namespace pelorin::common
