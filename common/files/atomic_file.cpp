#include "common/files/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pelorin::common {

namespace {

FileError writeError(const std::filesystem::path& path, int error) {
    return {FileError::Operation::write, path, std::strerror(error)};
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(count));
    }
    return true;
}

// Makes the rename itself durable. A failure here leaves the new file in place, so it is not
// reported.
void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

Expected<std::monostate, FileError> writeFileAtomically(const std::filesystem::path& path,
                                                        std::span<const std::uint8_t> bytes,
                                                        std::filesystem::perms permissions) {
    return writeFileAtomically(path, std::span(&bytes, 1), permissions);
}

Expected<std::monostate, FileError> writeFileAtomically(
    const std::filesystem::path& path, std::span<const std::span<const std::uint8_t>> pieces,
    std::filesystem::perms permissions) {
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    // A hidden name so that folder listings taken meanwhile do not pick the partial file up.
    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return unexpected(writeError(path, errno));

    int error = 0;
    bool written = ::fchmod(fd, static_cast<mode_t>(permissions)) == 0;
    for (const auto& piece : pieces) written = written && writeAll(fd, piece);
    if (!written || ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return unexpected(writeError(path, error));
    }
    syncFolder(folder);
    return std::monostate{};
}

}  // namespace pelorin::common
