#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

namespace pelorin::evaluation {

// The parent process id in the text of /proc/<pid>/stat, whose command name (in parentheses)
// may itself hold spaces and parentheses.
std::optional<int> parentInStat(std::string_view stat);

// Resident bytes of one process now; 0 when it is gone.
std::uint64_t residentBytes(int pid);

// Resident bytes of a process and all its descendants now, from /proc.
std::uint64_t treeResidentBytes(int root);

// Samples the resident memory of this process and all its descendants (reconstruction tools
// run as child processes) on a thread of its own and keeps the largest sum seen.
class PeakMemorySampler {
  public:
    explicit PeakMemorySampler(std::chrono::milliseconds period = std::chrono::milliseconds(150));
    ~PeakMemorySampler();
    PeakMemorySampler(const PeakMemorySampler&) = delete;
    PeakMemorySampler& operator=(const PeakMemorySampler&) = delete;

    // Takes a last sample and ends the thread; the peak stays readable.
    void stop();
    std::uint64_t peakBytes() const { return peak_.load(); }

  private:
    void sample();

    std::atomic<std::uint64_t> peak_{0};
    std::mutex lock_;
    std::condition_variable_any wake_;
    std::jthread thread_;
};

}  // namespace pelorin::evaluation
