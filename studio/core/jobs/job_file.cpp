#include "studio/core/jobs/job_file.h"

#include <fstream>
#include <sstream>

#include "common/bytes.h"
#include "common/files/atomic_file.h"

namespace pelorin::studio {

std::optional<std::string> writeJobFile(const std::filesystem::path& root, const StudioJob& job) {
    const auto folder = StudioJob::folder(root, job.id);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return error.message();
    const std::string text = link::makeRecordEncoder().encode(job);
    auto written = common::writeFileAtomically(folder / StudioJob::fileName, bytesOf(text));
    if (!written) return written.error().reason;
    return std::nullopt;
}

std::optional<std::string> readTextFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(text).str();
}

pelorin::Expected<StudioJob, link::DecodingError> readJobFile(const std::filesystem::path& folder) {
    auto text = readTextFile(folder / StudioJob::fileName);
    if (!text) return pelorin::unexpected(link::DecodingError{"The job file could not be read."});
    return link::makeRecordDecoder().decode<StudioJob>(*text);
}

}  // namespace pelorin::studio
