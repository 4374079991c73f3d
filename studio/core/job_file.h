#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "link/expected.h"
#include "link/record_coding.h"
#include "studio/core/studio_job.h"

namespace pelorin::studio {

// Creates the job's folder under the root and replaces its "job.json" atomically, so that a
// reader, or the next start after a crash, sees the old record or the new one whole. Fails with
// the system's description of what went wrong.
std::optional<std::string> writeJobFile(const std::filesystem::path& root, const StudioJob& job);

// Reads a job folder's "job.json".
pelorin::Expected<StudioJob, link::DecodingError> readJobFile(const std::filesystem::path& folder);

// Reads a JSON record file whole; nothing when it cannot be read.
std::optional<std::string> readTextFile(const std::filesystem::path& file);

// Reads and decodes "capture.json" in a folder; nothing when missing or unreadable.
std::optional<link::CaptureManifest> readManifest(const std::filesystem::path& imagesFolder);

}  // namespace pelorin::studio
