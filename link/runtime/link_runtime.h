#pragma once

#include <thread>
#include <vector>

#include <asio.hpp>

namespace pelorin::link {

// The one event loop that every connection, server and browser of a process shares, run by a
// small pool of threads. Create it once, before anything that uses it, and keep it until they
// are all gone: destroying it stops the loop and drops whatever work is still queued.
class LinkRuntime {
  public:
    explicit LinkRuntime(unsigned threads = defaultThreadCount());
    ~LinkRuntime();
    LinkRuntime(const LinkRuntime&) = delete;
    LinkRuntime& operator=(const LinkRuntime&) = delete;

    asio::io_context& context() { return context_; }

    // Two to four threads: enough that one busy connection does not hold up the others.
    static unsigned defaultThreadCount();

  private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::vector<std::thread> threads_;
};

}  // namespace pelorin::link
