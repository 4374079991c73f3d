#pragma once

#include <filesystem>
#include <optional>

namespace pelorin::studio {

// The built-in sample set "Sample Photos Statue": PELORIN_SAMPLE_PHOTOS when set, else beside
// the installed program (share/pelorin-studio), else in the source tree's resources.
std::optional<std::filesystem::path> findSampleFolder();

}  // namespace pelorin::studio
