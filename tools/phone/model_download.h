#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <variant>

#include "common/expected.h"
#include "common/files/file_error.h"
#include "common/uuid.h"

namespace pelorin::link {

// Assembles a model file that a desktop sends as modelChunk frames, in order, into
// "<folder>/<UUID>.usdz" (or ".glb"), and checks that the result is a well-formed USDZ package
// (or a GLB file that reads as a model). Failures
// are returned to the owner, which decides whether to discard the file and ask again; only
// discard deletes it. Not thread-safe: the owner uses it from one place at a time.
class ModelDownload {
  public:
    using Result = Expected<std::monostate, common::FileError>;
    enum class Format { usdz, glb };

    // Replaces any file of that name with an empty one. When it cannot be opened, creation
    // still succeeds and every append fails.
    ModelDownload(const Uuid& id, const std::filesystem::path& folder,
                  Format format = Format::usdz);
    ~ModelDownload();
    ModelDownload(ModelDownload&& other) noexcept;
    ModelDownload& operator=(ModelDownload&& other) noexcept;
    ModelDownload(const ModelDownload&) = delete;
    ModelDownload& operator=(const ModelDownload&) = delete;

    // One chunk: it must start where the last one ended and stay within the total the first
    // chunk announced. A refused chunk writes nothing.
    Result append(std::span<const std::uint8_t> chunk, std::int64_t offset, std::int64_t total);
    Result close();
    // The whole file, once complete: of the announced size and a model of its format.
    Result verify() const;
    // Closes and deletes the file, ignoring errors.
    void discard();

    const std::filesystem::path& fileURL() const { return fileURL_; }
    std::int64_t received() const { return received_; }
    std::chrono::system_clock::time_point lastChunkAt() const { return lastChunkAt_; }
    std::optional<std::int64_t> total() const { return total_; }
    bool isOpen() const { return handle_ >= 0; }

  private:
    common::FileError corrupt() const;

    std::filesystem::path fileURL_;
    std::int64_t received_ = 0;
    std::chrono::system_clock::time_point lastChunkAt_;
    std::optional<std::int64_t> total_;
    int handle_ = -1;
    Format format_ = Format::usdz;
};

// Discards every download of the list.
void discardAll(std::span<ModelDownload> downloads);

}  // namespace pelorin::link
