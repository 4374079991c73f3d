#include "studio/app/sample_folder.h"

#include <QCoreApplication>

#include <cstdlib>
#include <vector>

namespace pelorin::studio {

std::optional<std::filesystem::path> findSampleFolder() {
    const std::filesystem::path name = "Sample Photos Statue";
    std::vector<std::filesystem::path> candidates;
    if (const char* set = std::getenv("PELORIN_SAMPLE_PHOTOS"); set && *set)
        candidates.emplace_back(set);
    const std::filesystem::path program = QCoreApplication::applicationDirPath().toStdString();
    candidates.push_back(program / ".." / "share" / "pelorin-studio" / name);
    candidates.push_back(program / name);
    candidates.push_back(std::filesystem::path(PELORIN_SOURCE_RESOURCES) / name);
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_directory(candidate, error)) return candidate.lexically_normal();
    }
    return std::nullopt;
}

}  // namespace pelorin::studio
