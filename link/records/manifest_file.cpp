#include "link/records/manifest_file.h"

#include <system_error>

#include "common/files/file_reader.h"

namespace pelorin::link {

namespace {
// A manifest lists a few thousand photos at most; anything far larger is not one.
constexpr std::uint64_t maxManifestBytes = 64 << 20;
}  // namespace

Expected<std::optional<CaptureManifest>, DecodingError> loadManifest(
    const std::filesystem::path& folder) {
    const auto file = folder / std::string(CaptureManifest::fileName);
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return std::optional<CaptureManifest>();
    auto mapped = common::readFile(file, maxManifestBytes);
    if (!mapped) return unexpected(DecodingError{mapped.error().reason});
    auto manifest = makeRecordDecoder().decode<CaptureManifest>(mapped->text());
    if (!manifest) return unexpected(manifest.error());
    return std::optional<CaptureManifest>(std::move(manifest.value()));
}

}  // namespace pelorin::link
