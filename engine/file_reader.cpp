#include "engine/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pelorin::engine {

namespace {

FileError readError(const std::filesystem::path& path, int error) {
    return {FileError::Operation::read, path, std::strerror(error)};
}

// Closes the descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

Expected<Bytes, FileError> readFile(const std::filesystem::path& path, std::uint64_t maxBytes) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) return unexpected(readError(path, errno));
    struct stat status {};
    if (::fstat(file.fd, &status) != 0) return unexpected(readError(path, errno));
    if (S_ISDIR(status.st_mode)) return unexpected(readError(path, EISDIR));
    if (!S_ISREG(status.st_mode)) return unexpected(readError(path, EINVAL));
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size > maxBytes) return unexpected(readError(path, EFBIG));

    Bytes bytes(static_cast<std::size_t>(size));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t count = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
        if (count < 0) {
            if (errno == EINTR) continue;
            return unexpected(readError(path, errno));
        }
        if (count == 0) break;  // the file shrank since fstat
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    return bytes;
}

}  // namespace pelorin::engine
