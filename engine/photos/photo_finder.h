#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/expected.h"

namespace pelorin::engine::PhotoFinder {

// Lower-case extensions, without the dot, of the files that count as photos.
const std::set<std::string, std::less<>>& photoExtensions();

// True when the lower-cased extension is a photo extension and the file is not known to be
// anything but a regular file (an entry whose kind cannot be read still counts).
bool isPhoto(const std::filesystem::path& file);

// One entry of a folder listing, with its kind read once.
struct ListedEntry {
    std::filesystem::path path;
    // Nothing when the kind could not be read.
    std::optional<std::filesystem::file_type> type;
};

// The folder's immediate entries, hidden ones (leading dot) skipped, in natural file-name order.
// Fails with the system's description of the error.
pelorin::Expected<std::vector<ListedEntry>, std::string> listFolder(
    const std::filesystem::path& folder);

// The photos of a listing, in listing order.
std::vector<std::filesystem::path> photosIn(const std::vector<ListedEntry>& listing);

// The photos directly inside a folder, in natural order; empty when it cannot be listed.
std::vector<std::filesystem::path> photoURLs(const std::filesystem::path& folder);

}  // namespace pelorin::engine::PhotoFinder
