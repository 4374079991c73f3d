#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace pelorin::engine::local {

// Bytes a user may still write on the disk that holds `folder`; nothing when it cannot be told.
std::optional<std::int64_t> freeDiskBytes(const std::filesystem::path& folder);

// Memory the system can give without swapping ("MemAvailable"); nothing when it cannot be told.
std::optional<std::int64_t> availableMemoryBytes();

// What a checkpoint folder holds at its fullest, roughly: working images, depth maps and
// their neighbours' data, and the models. Never less than for twenty photos.
std::int64_t checkpointBytesNeeded(std::int64_t photos, int workingSide, int denseSide);

}  // namespace pelorin::engine::local
