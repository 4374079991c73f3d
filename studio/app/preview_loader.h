#pragma once

#include <atomic>
#include <filesystem>
#include <optional>

#include "studio/app/preview_model.h"

namespace pelorin::studio {

// Reads a model package and prepares it for the preview: interleaved vertices, per-subset indices
// and decoded textures. Runs on a worker thread. None for a missing, damaged or foreign file, and
// as soon as it sees `cancelled` set.
std::optional<PreviewModel> loadPreviewModel(const std::filesystem::path& file,
                                             const std::atomic<bool>& cancelled);

}  // namespace pelorin::studio
