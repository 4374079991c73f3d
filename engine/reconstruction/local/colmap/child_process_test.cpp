#include "engine/reconstruction/local/colmap/child_process.h"

#include <signal.h>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/process_state.h"
#include "tests/support/scratch_folder.h"

using namespace pelorin::engine;
using namespace std::chrono_literals;

namespace {

pid_t readPid(const std::filesystem::path& file) {
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(file);
        pid_t pid = 0;
        if (in >> pid && pid > 0) return pid;
        std::this_thread::sleep_for(10ms);
    }
    return 0;
}

}  // namespace

TEST(ChildProcessTest, PassesLinesInOrderWithTheExitCodeAndTheEnvironment) {
    std::vector<std::string> lines;
    ChildOptions options;
    options.environment = {{"PELORIN_CHILD_TEST", "two words"}};
    options.keptLines = 2;
    auto result = runChild({"sh", "-c",
                            "echo one; printf 'Processed file [1/3]\\rProcessed file [2/3]\\n'; "
                            "echo \"$PELORIN_CHILD_TEST\" >&2; exit 3"},
                           options, [&](std::string_view line) { lines.emplace_back(line); }, {});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->exitCode, 3);
    EXPECT_FALSE(result->cancelled);
    EXPECT_FALSE(result->succeeded());
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "Processed file [1/3]",
                                               "Processed file [2/3]", "two words"}));
    EXPECT_EQ(result->lastLines, (std::vector<std::string>{"Processed file [2/3]", "two words"}));
}

TEST(ChildProcessTest, RunsInTheGivenFolderAndReportsWhatCannotStart) {
    pelorin::testing::ScratchFolder folder;
    ChildOptions options;
    options.workingDirectory = folder.path();
    std::string seen;
    auto result = runChild({"pwd"}, options, [&](std::string_view line) { seen = line; }, {});
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->succeeded());
    EXPECT_EQ(std::filesystem::path(seen), std::filesystem::canonical(folder.path()));

    auto missing = runChild({"pelorin-no-such-program"}, {}, {}, {});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(),
              "could not start pelorin-no-such-program: No such file or directory");
}

TEST(ChildProcessTest, StopEndsTheWholeGroupQuicklyEvenWhenTermIsIgnored) {
    pelorin::testing::ScratchFolder folder;
    for (const std::string trap : {"", "trap '' TERM; "}) {
        const auto pidFile = folder / "grandchild.pid";
        std::filesystem::remove(pidFile);
        std::stop_source stop;
        std::thread stopper([&] {
            readPid(pidFile);
            stop.request_stop();
        });
        const auto started = std::chrono::steady_clock::now();
        auto result = runChild({"sh", "-c",
                                trap + "sh -c '" + trap + "sleep 30' & echo $! > '" +
                                    pidFile.string() + "'; sleep 30; wait"},
                               {}, {}, stop.get_token());
        stopper.join();
        const auto took = std::chrono::steady_clock::now() - started;
        ASSERT_TRUE(result);
        EXPECT_TRUE(result->cancelled);
        EXPECT_FALSE(result->succeeded());
        EXPECT_LT(took, 2s) << "trap: " << trap;
        const pid_t grandchild = readPid(pidFile);
        EXPECT_GT(grandchild, 0);
        for (int i = 0; i < 50 && pelorin::testing::isRunning(grandchild); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(pelorin::testing::isRunning(grandchild)) << "trap: " << trap;
    }
}

TEST(ChildProcessTest, ReturnsWhenTheProgramEndsThoughItsChildHoldsTheOutputOpen) {
    const auto started = std::chrono::steady_clock::now();
    auto result = runChild({"sh", "-c", "sleep 30 & echo done"}, {}, {}, {});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->exitCode, 0);
    EXPECT_EQ(result->lastLines, std::vector<std::string>{"done"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}
