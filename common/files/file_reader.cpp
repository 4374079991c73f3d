#include "common/files/file_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace pelorin::common {

namespace {

FileError readError(const std::filesystem::path& path, int error) {
    return {FileError::Operation::read, path, std::strerror(error)};
}

// Closes the descriptor on every way out; the mapping outlives it.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        MappedFile old(std::move(*this));
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

Expected<MappedFile, FileError> readFile(const std::filesystem::path& path,
                                         std::uint64_t maxBytes) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) return unexpected(readError(path, errno));
    struct stat status {};
    if (::fstat(file.fd, &status) != 0) return unexpected(readError(path, errno));
    if (S_ISDIR(status.st_mode)) return unexpected(readError(path, EISDIR));
    if (!S_ISREG(status.st_mode)) return unexpected(readError(path, EINVAL));
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size > maxBytes) return unexpected(readError(path, EFBIG));

    MappedFile mapped;
    if (size == 0) return mapped;  // nothing to map
    void* data = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ,
                        MAP_PRIVATE | MAP_POPULATE, file.fd, 0);
    if (data == MAP_FAILED) return unexpected(readError(path, errno));
    mapped.data_ = static_cast<const std::uint8_t*>(data);
    mapped.size_ = static_cast<std::size_t>(size);
    return mapped;
}

}  // namespace pelorin::common
