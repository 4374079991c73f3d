#include "evaluation/hold_out.h"

#include <algorithm>
#include <system_error>

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "common/files/folder_listing.h"
#include "link/records/capture_records.h"
#include "link/records/record_coding.h"

namespace pelorin::evaluation {

namespace fs = std::filesystem;

std::vector<std::size_t> spreadChoice(std::size_t count, std::size_t chosen) {
    std::vector<std::size_t> positions;
    if (chosen == 0 || chosen > count) return positions;
    for (std::size_t k = 0; k < chosen; ++k)
        positions.push_back((2 * k + 1) * count / (2 * chosen));
    return positions;
}

pelorin::Expected<std::monostate, std::string> copyWithout(const fs::path& folder,
                                                           const std::vector<std::string>& leftOut,
                                                           const fs::path& destination) {
    using Result = pelorin::Expected<std::monostate, std::string>;
    auto failed = [](const fs::path& path, const std::string& reason) -> Result {
        return pelorin::unexpected(path.string() + ": " + reason);
    };
    const std::string recordName(link::CaptureManifest::fileName);
    std::error_code error;
    fs::create_directories(destination, error);
    if (error) return failed(destination, error.message());
    auto entries = common::listFolderEntries(folder);
    if (!entries) return failed(folder, entries.error());
    for (const auto& entry : *entries) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file(error) || name == recordName ||
            std::ranges::find(leftOut, name) != leftOut.end()) {
            continue;
        }
        fs::copy_file(entry.path(), destination / name, fs::copy_options::overwrite_existing,
                      error);
        if (error) return failed(entry.path(), error.message());
    }

    const fs::path record = folder / recordName;
    if (!fs::exists(record, error)) return std::monostate{};
    auto text = common::readFile(record, 64 << 20);
    if (!text) return failed(record, text.error().description());
    auto manifest = link::makeRecordDecoder().decode<link::CaptureManifest>(text->text());
    if (!manifest) return failed(record, manifest.error().message);
    std::erase_if(manifest->images, [&](const link::ImageRecord& image) {
        return std::ranges::find(leftOut, image.fileName) != leftOut.end();
    });
    const std::string encoded = link::makeRecordEncoder().encode(*manifest);
    auto written = common::writeFileAtomically(destination / recordName, bytesOf(encoded));
    if (!written) return failed(destination / recordName, written.error().description());
    return std::monostate{};
}

}  // namespace pelorin::evaluation
