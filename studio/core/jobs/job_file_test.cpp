#include "studio/core/jobs/job_file.h"
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

namespace pelorin::studio {
namespace {

class JobFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        job_.id = Uuid::random();
        job_.name = "Statue";
        job_.createdAt = Date::now();
    }
    pelorin::testing::ScratchFolder scratch_;
    const std::filesystem::path root_ = scratch_.path();
    StudioJob job_;
};

TEST_F(JobFileTest, FailedWriteKeepsTheOldFile) {
    ASSERT_FALSE(writeJobFile(root_, job_));
    // A file-size limit makes the write fail even for root; run it in a child so the limit stays
    // there.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        StudioJob changed = job_;
        changed.name = "Changed";
        const auto failure = writeJobFile(root_, changed);
        _exit(failure && !failure->empty() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write did not report its failure";
    const auto folder = StudioJob::folder(root_, job_.id);
    EXPECT_EQ(readJobFile(folder)->name, "Statue");
    // Nothing but the record is left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++entries;
    EXPECT_EQ(entries, 1);
}

// A process killed at any moment while it saves leaves either the old or the new record.
TEST_F(JobFileTest, SurvivesKillsInTheMiddleOfSaving) {
    ASSERT_FALSE(writeJobFile(root_, job_));
    // Large enough that a write takes a while and kills land inside it.
    for (int i = 0; i < 2000; ++i) job_.notes.push_back("note " + std::to_string(i));
    std::mt19937 random(42);
    std::uniform_int_distribution<int> delay(0, 20000);
    const auto folder = StudioJob::folder(root_, job_.id);
    for (int round = 0; round < 50; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            StudioJob job = job_;
            for (int n = 0;; ++n) {
                job.imageCount = n;
                job.name = "Statue " + std::to_string(n);
                if (writeJobFile(root_, job)) _exit(1);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child failed on its own";
        auto read = readJobFile(folder);
        ASSERT_TRUE(read) << "round " << round << ": " << read.error().message;
        EXPECT_EQ(read->name, read->imageCount == 0 && read->notes.empty()
                                  ? "Statue"
                                  : "Statue " + std::to_string(read->imageCount));
    }
}

}  // namespace
}  // namespace pelorin::studio
