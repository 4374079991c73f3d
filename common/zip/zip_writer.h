#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"

namespace pelorin::common {

// Builds an uncompressed ZIP archive in memory whose entries' data each start at a multiple of
// the alignment from the start of the archive, so a reader can map them in place. The local
// headers are padded with an extra field to get there.
class ZipWriter {
  public:
    explicit ZipWriter(std::size_t alignment = 64);

    // Adds a stored entry. Returns false, adding nothing, when the archive would outgrow the
    // 32-bit sizes and offsets and the 65,535 entries of a ZIP without ZIP64 extensions.
    bool add(std::string_view name, std::span<const std::uint8_t> data);

    // The archive with its central directory; the writer is empty afterwards.
    Bytes finish();

  private:
    struct Entry {
        std::string name;
        std::uint32_t crc;
        std::uint32_t size;
        std::uint32_t headerOffset;
    };

    std::size_t alignment_;
    Bytes archive_;
    std::vector<Entry> entries_;
};

}  // namespace pelorin::common
