#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace pelorin::link {

// Received bytes waiting to be handled: the socket reads straight into its free tail, handled
// bytes are dropped from its front without moving the rest. Storage is not zeroed on growth,
// so reserving room for a large receive costs nothing until bytes arrive.
class ByteQueue {
  public:
    std::size_t size() const { return end_ - begin_; }
    bool empty() const { return begin_ == end_; }
    std::span<const std::uint8_t> bytes() const { return {storage_.get() + begin_, size()}; }
    std::size_t capacity() const { return capacity_; }

    // Room for n more bytes at the end; valid until the next call that changes the queue.
    std::span<std::uint8_t> prepare(std::size_t n) {
        if (capacity_ - end_ < n) {
            const std::size_t live = size();
            if (live + n <= capacity_) {
                std::memmove(storage_.get(), storage_.get() + begin_, live);
            } else {
                capacity_ = live + n;
                std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity_]);
                if (live != 0) std::memcpy(grown.get(), storage_.get() + begin_, live);
                storage_ = std::move(grown);
            }
            begin_ = 0;
            end_ = live;
        }
        return {storage_.get() + end_, n};
    }
    // Keeps n of the bytes written into the span from prepare.
    void commit(std::size_t n) { end_ += n; }

    void consume(std::size_t n) {
        begin_ += n;
        if (begin_ == end_) begin_ = end_ = 0;
    }
    // Gives the storage back; only when empty.
    void release() {
        if (!empty()) return;
        storage_.reset();
        capacity_ = 0;
    }

  private:
    std::unique_ptr<std::uint8_t[]> storage_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

}  // namespace pelorin::link
