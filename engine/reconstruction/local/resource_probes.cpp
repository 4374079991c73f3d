#include "engine/reconstruction/local/resource_probes.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace pelorin::engine::local {

std::optional<std::int64_t> freeDiskBytes(const std::filesystem::path& folder) {
    struct statvfs stats {};
    if (statvfs(folder.c_str(), &stats) != 0) return std::nullopt;
    return static_cast<std::int64_t>(stats.f_bavail) * static_cast<std::int64_t>(stats.f_frsize);
}

std::optional<std::int64_t> availableMemoryBytes() {
    std::ifstream meminfo("/proc/meminfo");
    for (std::string key; meminfo >> key;) {
        std::int64_t kilobytes = 0;
        meminfo >> kilobytes;
        if (key == "MemAvailable:") return kilobytes * 1024;
        meminfo.ignore(1 << 10, '\n');
    }
    return std::nullopt;
}

std::int64_t checkpointBytesNeeded(std::int64_t photos, int workingSide, int denseSide) {
    const std::int64_t images = std::max<std::int64_t>(photos, 20);
    // 4:3 photos; JPEG working images at about half a byte a pixel, float depth maps.
    const std::int64_t pixels = std::int64_t(workingSide) * workingSide * 3 / 4;
    const std::int64_t densePixels = std::int64_t(denseSide) * denseSide * 3 / 4;
    return images * (pixels / 2 + densePixels * 4 + (3 << 20)) + (200 << 20);
}

}  // namespace pelorin::engine::local
