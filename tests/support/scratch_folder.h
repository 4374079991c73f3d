#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>
#include "common/bytes.h"

// Fixtures shared by every test suite: scratch folders and whole-file reads and writes.
namespace pelorin::testing {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes (permissions taken away by a test are given back first).
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Creates missing parent folders; throws when the file cannot be written.
void writeFile(const std::filesystem::path& path, std::string_view contents);
void writeFile(const std::filesystem::path& path, const Bytes& contents);
// Empty when the file cannot be read.
Bytes readBytes(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);

}  // namespace pelorin::testing
