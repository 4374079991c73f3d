#include "link/transport/write_batches.h"

namespace pelorin::link {

namespace {

constexpr std::size_t maxRecordsPerWrite = 64;
constexpr std::size_t maxBytesPerWrite = 1024 * 1024;

}  // namespace

void completeSend(const LinkConnection::SendCompletion& completion,
                  std::optional<LinkConnection::SendError> error) {
    if (completion) completion(std::move(error));
}

bool WriteBatches::push(Outgoing outgoing) {
    queue_.push_back(std::move(outgoing));
    return writing_.empty();
}

const std::vector<asio::const_buffer>& WriteBatches::startBatch() {
    buffers_.clear();
    std::size_t total = 0;
    while (!queue_.empty() && writing_.size() < maxRecordsPerWrite &&
           (writing_.empty() || total + queue_.front().bytes.size() <= maxBytesPerWrite)) {
        writing_.push_back(std::move(queue_.front()));
        queue_.pop_front();
        total += writing_.back().bytes.size();
        buffers_.push_back(asio::buffer(writing_.back().bytes));
    }
    return buffers_;
}

bool WriteBatches::finishBatch(std::error_code error) {
    auto done = std::move(writing_);
    writing_.clear();
    for (auto& entry : done) {
        completeSend(entry.completion,
                     error ? std::optional<LinkConnection::SendError>(error) : std::nullopt);
    }
    return !queue_.empty();
}

}  // namespace pelorin::link
