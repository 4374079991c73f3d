#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <variant>

#include "common/expected.h"
#include "common/files/file_error.h"

namespace pelorin::common {

inline constexpr std::filesystem::perms defaultFilePermissions =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
    std::filesystem::perms::group_read | std::filesystem::perms::others_read;

// Replaces the file at path with bytes so that a reader sees either the old file or the whole
// new one, never a part: the bytes go to a temporary file in the same folder, are flushed to
// the disk and the temporary file is renamed over the target. On failure the target is left
// as it was and the temporary file is removed.
Expected<std::monostate, FileError> writeFileAtomically(
    const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
    std::filesystem::perms permissions = defaultFilePermissions);

// The same for a file made of several pieces in order, so that large parts need not be
// copied into one buffer first.
Expected<std::monostate, FileError> writeFileAtomically(
    const std::filesystem::path& path, std::span<const std::span<const std::uint8_t>> pieces,
    std::filesystem::perms permissions = defaultFilePermissions);

}  // namespace pelorin::common
