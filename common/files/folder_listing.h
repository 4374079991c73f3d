#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "common/expected.h"

namespace pelorin::common {

// A folder's entries, read with the error-code forms of the listing: a folder that cannot be
// opened, or whose reading fails part-way, is a failure with the system's description, never
// an exception (walks run on worker threads, where one would end the program).
Expected<std::vector<std::filesystem::directory_entry>, std::string> listFolderEntries(
    const std::filesystem::path& folder);

// The listing loop itself, over any source of entries: `next(error)` yields the next entry,
// nothing at the end, or sets `error`. Separate so that a failure part-way can be tested.
template <class Next>
Expected<std::vector<std::filesystem::directory_entry>, std::string> collectEntries(Next next) {
    std::vector<std::filesystem::directory_entry> entries;
    std::error_code error;
    while (auto entry = next(error)) entries.push_back(std::move(*entry));
    if (error) return unexpected(error.message());
    return entries;
}

}  // namespace pelorin::common
