#pragma once

#include <cstddef>
#include <functional>
#include <stop_token>
#include <string_view>

namespace pelorin::engine::local {

// Runs `body(item, worker)` for every item in [0, count) on `threads` threads, the calling
// thread among them; `worker` is below `threads`, so that each worker can keep results of its
// own. The first exception a worker throws stops the others before their next item and is
// thrown again on the calling thread once every worker has ended: a fault in a worker fails
// the step instead of ending the program. A stop request ends the loop early, quietly.
// `name` says which loop this is, for the fault seam below.
void parallelFor(std::string_view name, std::size_t count, unsigned threads,
                 const std::function<void(std::size_t item, unsigned worker)>& body,
                 const std::stop_token& stop = {});

// OpenCV's own threads held to one while it lives: loops whose workers each call OpenCV would
// otherwise queue on its one pool.
class OpenCvThreadsPerWorker {
  public:
    OpenCvThreadsPerWorker();
    ~OpenCvThreadsPerWorker();
    OpenCvThreadsPerWorker(const OpenCvThreadsPerWorker&) = delete;
    OpenCvThreadsPerWorker& operator=(const OpenCvThreadsPerWorker&) = delete;

  private:
    int saved_;
};

// A fault seam for tests: called inside the worker before each item of every loop, with the
// loop's name, so that a test can make a worker throw where a real fault would. Set it before
// a run starts and clear it after the run has ended. Without one, the environment variable
// PELORIN_PARALLEL_FAULT="<loop name>" (or "<loop name>:memory") makes the named loop throw
// (a runtime error, or std::bad_alloc), so that a whole studio process can be tested with it.
using ParallelFault = std::function<void(std::string_view loop, std::size_t item)>;
void setParallelFault(ParallelFault fault);

}  // namespace pelorin::engine::local
