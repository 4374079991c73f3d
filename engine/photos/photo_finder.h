#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "common/expected.h"

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

// What searching a chosen folder found.
struct Found {
    std::filesystem::path folder;
    std::vector<std::filesystem::path> photos;
    bool operator==(const Found&) const = default;
};
struct NoPhotos {
    // The first zip archive met on the way, by file name.
    std::optional<std::string> zipName;
    bool operator==(const NoPhotos&) const = default;
};
struct Unreadable {
    std::string description;
    bool operator==(const Unreadable&) const = default;
};
using Outcome = std::variant<Found, NoPhotos, Unreadable>;

// Levels below the chosen folder that are searched, and folders examined at most.
inline constexpr int maxDepth = 3;
inline constexpr std::size_t maxFolders = 3000;

// The one folder at most three levels down that holds the most photos (the chosen folder wins
// outright with 10 or more). Never throws; only lists folders and reads their entries' kinds.
Outcome find(const std::filesystem::path& folder);

}  // namespace pelorin::engine::PhotoFinder
