#include "tools/phone/model_download.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/files/file_reader.h"
#include "engine/formats/glb_reader.h"
#include "engine/formats/usdz_check.h"

namespace pelorin::link {

namespace {

std::string systemReason(int error) {
    return std::generic_category().message(error);
}

}  // namespace

ModelDownload::ModelDownload(const Uuid& id, const std::filesystem::path& folder, Format format)
    : fileURL_(folder / (id.string() + (format == Format::glb ? ".glb" : ".usdz"))),
      lastChunkAt_(std::chrono::system_clock::now()),
      format_(format) {
    std::error_code ignored;
    std::filesystem::remove(fileURL_, ignored);
    handle_ = ::open(fileURL_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

ModelDownload::~ModelDownload() {
    if (handle_ >= 0) ::close(handle_);
}

ModelDownload::ModelDownload(ModelDownload&& other) noexcept
    : fileURL_(std::move(other.fileURL_)),
      received_(other.received_),
      lastChunkAt_(other.lastChunkAt_),
      total_(other.total_),
      handle_(std::exchange(other.handle_, -1)),
      format_(other.format_) {}

ModelDownload& ModelDownload::operator=(ModelDownload&& other) noexcept {
    if (this != &other) {
        if (handle_ >= 0) ::close(handle_);
        fileURL_ = std::move(other.fileURL_);
        received_ = other.received_;
        lastChunkAt_ = other.lastChunkAt_;
        total_ = other.total_;
        handle_ = std::exchange(other.handle_, -1);
        format_ = other.format_;
    }
    return *this;
}

common::FileError ModelDownload::corrupt() const {
    return {common::FileError::Operation::read, fileURL_, "The model file is damaged."};
}

ModelDownload::Result ModelDownload::append(std::span<const std::uint8_t> chunk,
                                            std::int64_t offset, std::int64_t total) {
    if (handle_ < 0) {
        return unexpected(
            common::FileError{common::FileError::Operation::write, fileURL_, "Unknown error."});
    }
    if (offset != received_) return unexpected(corrupt());
    // A chunk that is refused leaves the announced total unset, so a bad first chunk cannot
    // spoil the checks of the next one.
    const std::int64_t expected = total_.value_or(total);
    const auto size = static_cast<std::int64_t>(chunk.size());
    if (total <= 0 || total != expected || size > expected - offset) {
        return unexpected(corrupt());
    }
    total_ = expected;
    for (std::size_t written = 0; written < chunk.size();) {
        const ssize_t n = ::write(handle_, chunk.data() + written, chunk.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return unexpected(common::FileError{common::FileError::Operation::write, fileURL_,
                                                systemReason(errno)});
        }
        written += static_cast<std::size_t>(n);
    }
    received_ += size;
    lastChunkAt_ = std::chrono::system_clock::now();
    return std::monostate{};
}

ModelDownload::Result ModelDownload::close() {
    if (handle_ < 0) return std::monostate{};
    const int handle = std::exchange(handle_, -1);
    if (::close(handle) != 0) {
        return unexpected(
            common::FileError{common::FileError::Operation::write, fileURL_, systemReason(errno)});
    }
    return std::monostate{};
}

ModelDownload::Result ModelDownload::verify() const {
    if (!total_) return unexpected(corrupt());
    auto file = common::readFile(fileURL_, static_cast<std::uint64_t>(*total_));
    if (!file) return unexpected(corrupt());
    const auto bytes = file->bytes();
    const bool wellFormed =
        format_ == Format::glb ? engine::parseGlb(bytes).hasValue() : engine::isUsdzPackage(bytes);
    if (static_cast<std::int64_t>(bytes.size()) != *total_ || !wellFormed) {
        return unexpected(corrupt());
    }
    return std::monostate{};
}

void ModelDownload::discard() {
    if (handle_ >= 0) ::close(std::exchange(handle_, -1));
    std::error_code ignored;
    std::filesystem::remove(fileURL_, ignored);
}

void discardAll(std::span<ModelDownload> downloads) {
    for (auto& download : downloads) download.discard();
}

}  // namespace pelorin::link
