#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/expected.h"
#include "common/files/file_error.h"

namespace pelorin::engine::local {

// The folder a run works in, kept between runs: each finished step leaves a "<step>.done"
// marker, so a stopped run resumes after its last finished step. A run made with other
// settings starts afresh.
class Checkpoint {
  public:
    explicit Checkpoint(std::filesystem::path folder) : folder_(std::move(folder)) {}

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path operator/(std::string_view name) const { return folder_ / name; }

    // Keeps the folder when it was made with these settings (compact JSON); otherwise empties
    // it and records them.
    Expected<std::monostate, common::FileError> open(const std::string& settings);

    bool done(std::string_view step) const;
    Expected<std::monostate, common::FileError> markDone(std::string_view step);

    // Writes a file of the checkpoint atomically.
    Expected<std::monostate, common::FileError> write(std::string_view name,
                                                      std::string_view contents);

  private:
    std::filesystem::path folder_;
};

}  // namespace pelorin::engine::local
