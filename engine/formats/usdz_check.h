#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace pelorin::engine {

// Why a file is not a well-formed USDZ package, in the order the checks run.
enum class UsdzDefect {
    tooShort,       // under 52 bytes: no room for a local header and an end record
    noLocalHeader,  // does not start with a ZIP local file header
    badFirstEntry,  // the first entry's name is cut off, not UTF-8, or not a USD layer
    noEndRecord,    // no complete end-of-central-directory record near the end
    noEntries,      // the end record counts no entries
    badDirectory,   // the central directory would overlap the end record
};

// The first defect of a downloaded model file, or nothing when it looks like a USDZ package:
// a ZIP whose first entry is a ".usda" or ".usdc" layer, with a plausible end record. Only
// the structure is checked, not the entries' contents.
std::optional<UsdzDefect> findUsdzDefect(std::span<const std::uint8_t> file);

inline bool isUsdzPackage(std::span<const std::uint8_t> file) {
    return !findUsdzDefect(file);
}

}  // namespace pelorin::engine
