#include "engine/reconstruction/local/checkpoint.h"

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"

namespace pelorin::engine::local {

namespace fs = std::filesystem;

namespace {
constexpr std::string_view settingsFile = "settings.json";
// Settings are a few hundred bytes; a larger file is not ours.
constexpr std::uint64_t maxSettingsBytes = 1 << 20;
}  // namespace

Expected<std::monostate, common::FileError> Checkpoint::open(const std::string& settings) {
    if (auto saved = common::readFile(folder_ / settingsFile, maxSettingsBytes)) {
        if (saved->text() == settings) return std::monostate{};
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error)
        return unexpected(
            common::FileError{common::FileError::Operation::write, folder_, error.message()});
    return write(settingsFile, settings);
}

bool Checkpoint::done(std::string_view step) const {
    std::error_code ignored;
    return fs::exists(folder_ / (std::string(step) + ".done"), ignored);
}

Expected<std::monostate, common::FileError> Checkpoint::markDone(std::string_view step) {
    return write(std::string(step) + ".done", "done\n");
}

Expected<std::monostate, common::FileError> Checkpoint::write(std::string_view name,
                                                              std::string_view contents) {
    return common::writeFileAtomically(folder_ / name, bytesOf(contents));
}

}  // namespace pelorin::engine::local
