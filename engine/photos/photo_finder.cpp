#include "engine/photos/photo_finder.h"

#include <algorithm>

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
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) return pelorin::unexpected(error.message());
    std::vector<ListedEntry> listing;
    for (const auto& entry : entries) {
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

}  // namespace pelorin::engine::PhotoFinder
