#include "evaluation/process_memory.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

namespace pelorin::evaluation {
namespace {

constexpr std::size_t childBytes = 256u << 20;

// A child process that holds `childBytes` of touched memory until told to end.
class HungryChild {
  public:
    HungryChild() {
        if (pipe(ready_) != 0 || pipe(release_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            // Only this process may hold the write end, or the read below would never end.
            close(release_[1]);
            close(ready_[0]);
            void* memory = mmap(nullptr, childBytes, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (memory != MAP_FAILED) std::memset(memory, 1, childBytes);
            char byte = 1;
            if (write(ready_[1], &byte, 1) != 1) _exit(1);
            (void)!read(release_[0], &byte, 1);
            _exit(0);
        }
        close(release_[0]);
        close(ready_[1]);
        char byte;
        if (pid_ > 0 && read(ready_[0], &byte, 1) != 1) pid_ = -1;
        close(ready_[0]);
    }
    ~HungryChild() { end(); }

    int pid() const { return pid_; }

    void end() {
        if (pid_ <= 0) return;
        close(release_[1]);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

  private:
    int ready_[2] = {-1, -1};
    int release_[2] = {-1, -1};
    int pid_ = -1;
};

TEST(ProcessMemory, ParentIdOfAStatLine) {
    EXPECT_EQ(parentInStat("1234 (bash) S 77 1234 1234 0 -1"), 77);
    // The command name may hold spaces and parentheses of its own.
    EXPECT_EQ(parentInStat("99 (a (b) c) R 5 99 99 0 -1"), 5);
    EXPECT_EQ(parentInStat("99 (x) S"), std::nullopt);
    EXPECT_EQ(parentInStat("garbage"), std::nullopt);
    EXPECT_EQ(parentInStat(""), std::nullopt);
}

TEST(ProcessMemory, TheTreeCountsChildProcesses) {
    const std::uint64_t alone = residentBytes(getpid());
    EXPECT_GT(alone, 0u);
    HungryChild child;
    ASSERT_GT(child.pid(), 0);
    EXPECT_GE(residentBytes(child.pid()), childBytes);
    EXPECT_GE(treeResidentBytes(getpid()), residentBytes(getpid()) + childBytes);
    const int pid = child.pid();
    child.end();
    EXPECT_EQ(residentBytes(pid), 0u);
    EXPECT_LT(treeResidentBytes(getpid()), alone + childBytes / 2);
}

TEST(ProcessMemory, TheSamplerKeepsThePeakOfAChildThatHasEnded) {
    PeakMemorySampler sampler(std::chrono::milliseconds(20));
    const std::uint64_t before = sampler.peakBytes();
    EXPECT_GT(before, 0u);
    {
        HungryChild child;
        ASSERT_GT(child.pid(), 0);
        // Wait for a sample to see the child (generously: the machine may be busy).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (sampler.peakBytes() < before + childBytes &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    sampler.stop();
    EXPECT_GE(sampler.peakBytes(), before + childBytes);
    EXPECT_LT(treeResidentBytes(getpid()), sampler.peakBytes());
}

}  // namespace
}  // namespace pelorin::evaluation
