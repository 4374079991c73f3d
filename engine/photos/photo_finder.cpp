#include "engine/photos/photo_finder.h"

#include <algorithm>

#include "common/files/folder_listing.h"
#include "engine/photos/natural_order.h"

namespace pelorin::engine::PhotoFinder {

namespace {

std::string lowercaseExtension(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

bool hasPhotoExtension(const std::filesystem::path& file) {
    return photoExtensions().contains(lowercaseExtension(file));
}

bool notKnownOtherThanRegular(std::optional<std::filesystem::file_type> type) {
    return !type || *type == std::filesystem::file_type::regular ||
           *type == std::filesystem::file_type::unknown;
}

}  // namespace

const std::set<std::string, std::less<>>& photoExtensions() {
    static const std::set<std::string, std::less<>> extensions = {"heic", "heif", "jpg", "jpeg",
                                                                  "png",  "tif",  "tiff"};
    return extensions;
}

bool isPhoto(const std::filesystem::path& file) {
    if (!hasPhotoExtension(file)) return false;
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (error) return true;
    return notKnownOtherThanRegular(status.type());
}

pelorin::Expected<std::vector<ListedEntry>, std::string> listFolder(
    const std::filesystem::path& folder) {
    auto entries = common::listFolderEntries(folder);
    if (!entries) return pelorin::unexpected(entries.error());
    std::vector<ListedEntry> listing;
    for (const auto& entry : *entries) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.front() == '.') continue;
        std::error_code statusError;
        // Follows links, so a link to a photo counts as the photo.
        const auto status = entry.status(statusError);
        std::optional<std::filesystem::file_type> type;
        if (!statusError) type = status.type();
        listing.push_back({entry.path(), type});
    }
    std::stable_sort(listing.begin(), listing.end(),
                     [](const ListedEntry& a, const ListedEntry& b) {
                         return naturalLess(a.path.filename().string(), b.path.filename().string());
                     });
    return listing;
}

std::vector<std::filesystem::path> photosIn(const std::vector<ListedEntry>& listing) {
    std::vector<std::filesystem::path> photos;
    for (const auto& entry : listing) {
        if (hasPhotoExtension(entry.path) && notKnownOtherThanRegular(entry.type)) {
            photos.push_back(entry.path);
        }
    }
    return photos;
}

std::vector<std::filesystem::path> photoURLs(const std::filesystem::path& folder) {
    auto listing = listFolder(folder);
    if (!listing) return {};
    return photosIn(*listing);
}

namespace {

std::optional<std::string> firstZip(const std::vector<ListedEntry>& listing) {
    for (const auto& entry : listing) {
        if (lowercaseExtension(entry.path) == "zip") return entry.path.filename().string();
    }
    return std::nullopt;
}

std::vector<std::filesystem::path> subfolders(const std::vector<ListedEntry>& listing) {
    std::vector<std::filesystem::path> folders;
    for (const auto& entry : listing) {
        if (entry.type == std::filesystem::file_type::directory) folders.push_back(entry.path);
    }
    return folders;
}

}  // namespace

Outcome find(const std::filesystem::path& folder) {
    auto listing = listFolder(folder);
    if (!listing) return Unreadable{listing.error()};
    auto photos = photosIn(*listing);
    if (photos.size() >= 10) return Found{folder, std::move(photos)};

    std::optional<Found> best;
    if (!photos.empty()) best = Found{folder, std::move(photos)};
    std::optional<std::string> zipName = firstZip(*listing);

    struct Queued {
        std::filesystem::path folder;
        int depth;
    };
    std::vector<Queued> queue;
    for (auto& subfolder : subfolders(*listing)) queue.push_back({std::move(subfolder), 1});

    // Entries are only appended, so walking by position is breadth-first; links that loop back
    // are bounded by the depth and folder limits.
    for (std::size_t position = 0; position < queue.size() && position < maxFolders; ++position) {
        const Queued entry = queue[position];
        auto entries = listFolder(entry.folder);
        if (!entries) continue;
        auto found = photosIn(*entries);
        if (!found.empty() && (!best || found.size() > best->photos.size())) {
            best = Found{entry.folder, std::move(found)};
        }
        if (!zipName) zipName = firstZip(*entries);
        if (entry.depth < maxDepth) {
            for (auto& subfolder : subfolders(*entries)) {
                if (queue.size() >= maxFolders) break;
                queue.push_back({std::move(subfolder), entry.depth + 1});
            }
        }
    }
    if (best) return std::move(*best);
    return NoPhotos{zipName};
}

}  // namespace pelorin::engine::PhotoFinder
