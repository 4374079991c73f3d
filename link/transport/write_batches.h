#pragma once

#include <deque>
#include <system_error>
#include <vector>

#include <asio/buffer.hpp>

#include "common/bytes.h"
#include "link/transport/link_connection.h"

namespace pelorin::link {

// Bytes for the socket and who to tell once they are written.
struct Outgoing {
    Bytes bytes;
    LinkConnection::SendCompletion completion;
};

// Calls the completion, when there is one.
void completeSend(const LinkConnection::SendCompletion& completion,
                  std::optional<LinkConnection::SendError> error);

// The records waiting for a connection's socket, handed over in gathered writes with one write
// in flight at a time, so that many small records cost one system call.
class WriteBatches {
  public:
    // Queues the bytes; true when no write is in flight, so the caller starts one.
    bool push(Outgoing outgoing);
    // Moves the next batch into flight: records in queue order up to the limits of one write,
    // but at least one however large. The buffers stay valid until finishBatch.
    const std::vector<asio::const_buffer>& startBatch();
    // Completes every record of the batch in flight with the write's outcome; true when more
    // are queued, so the caller starts the next write.
    bool finishBatch(std::error_code error);

  private:
    std::deque<Outgoing> queue_;
    std::vector<Outgoing> writing_;
    std::vector<asio::const_buffer> buffers_;
};

}  // namespace pelorin::link
