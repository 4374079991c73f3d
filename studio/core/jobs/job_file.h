#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "common/expected.h"
#include "link/records/record_coding.h"
#include "studio/core/jobs/studio_job.h"

namespace pelorin::studio {

// Creates the job's folder under the root and replaces its "job.json" atomically, so that a
// reader, or the next start after a crash, sees the old record or the new one whole. Fails with
// the system's description of what went wrong.
std::optional<std::string> writeJobFile(const std::filesystem::path& root, const StudioJob& job);

// Reads a job folder's "job.json".
pelorin::Expected<StudioJob, link::DecodingError> readJobFile(const std::filesystem::path& folder);

// Reads a JSON record file whole; nothing when it cannot be read.
std::optional<std::string> readTextFile(const std::filesystem::path& file);

}  // namespace pelorin::studio
