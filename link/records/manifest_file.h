#pragma once

#include <filesystem>
#include <optional>

#include "common/expected.h"
#include "link/records/capture_records.h"
#include "link/records/record_coding.h"

namespace pelorin::link {

// The "capture.json" a phone sends with its photos, read from their folder: nothing when the
// folder has none, an error when it has one that does not decode.
Expected<std::optional<CaptureManifest>, DecodingError> loadManifest(
    const std::filesystem::path& folder);

// The same, for callers that treat a damaged manifest as none.
inline std::optional<CaptureManifest> readManifest(const std::filesystem::path& folder) {
    auto loaded = loadManifest(folder);
    return loaded ? std::move(loaded.value()) : std::nullopt;
}

}  // namespace pelorin::link
