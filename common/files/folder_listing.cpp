#include "common/files/folder_listing.h"

namespace pelorin::common {

namespace fs = std::filesystem;

Expected<std::vector<fs::directory_entry>, std::string> listFolderEntries(const fs::path& folder) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return unexpected(error.message());
    bool first = true;
    return collectEntries([&](std::error_code& failed) -> std::optional<fs::directory_entry> {
        if (!first) it.increment(failed);
        first = false;
        if (failed || it == fs::directory_iterator()) return std::nullopt;
        return *it;
    });
}

}  // namespace pelorin::common
