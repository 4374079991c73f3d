#include "engine/reconstruction/local/parallel_for.h"

#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace pelorin::engine::local;

TEST(ParallelFor, EveryItemOnceWithWorkersBelowTheCount) {
    for (const unsigned threads : {1u, 2u, 7u}) {
        for (const std::size_t count : {std::size_t(0), std::size_t(1), std::size_t(500)}) {
            std::vector<std::atomic<int>> seen(count);
            std::atomic<unsigned> highestWorker{0};
            parallelFor("test", count, threads, [&](std::size_t item, unsigned worker) {
                ++seen[item];
                unsigned known = highestWorker;
                while (worker > known && !highestWorker.compare_exchange_weak(known, worker)) {
                }
            });
            for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(seen[i], 1) << i;
            EXPECT_LT(highestWorker, std::max(1u, threads));
        }
    }
}

// A worker's exception reaches the calling thread with its type, and the other workers stop
// taking items instead of finishing the loop.
TEST(ParallelFor, AWorkersExceptionReachesTheCallerAndStopsTheOthers) {
    struct Case {
        const char* name;
        std::function<void()> fault;
        std::function<bool(std::exception_ptr)> expected;
    };
    const auto is = [](auto probe) {
        return [probe](std::exception_ptr thrown) {
            try {
                std::rethrow_exception(thrown);
            } catch (const decltype(probe)&) {
                return true;
            } catch (...) {
                return false;
            }
        };
    };
    const std::vector<Case> cases = {
        {"runtime error", [] { throw std::runtime_error("x"); }, is(std::runtime_error("x"))},
        {"out of memory", [] { throw std::bad_alloc(); }, is(std::bad_alloc())},
        {"not an exception type", [] { throw 42; }, is(0)},
    };
    for (const auto& c : cases) {
        std::atomic<std::size_t> ran{0};
        std::exception_ptr caught;
        try {
            parallelFor("test", 100000, 2, [&](std::size_t item, unsigned) {
                ++ran;
                if (item == 10) c.fault();
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            });
        } catch (...) {
            caught = std::current_exception();
        }
        ASSERT_TRUE(caught) << c.name;
        EXPECT_TRUE(c.expected(caught)) << c.name;
        EXPECT_LT(ran, 1000u) << c.name;
    }
}

TEST(ParallelFor, AStopEndsTheLoopQuietlyAndTheSeamFailsOnlyItsLoop) {
    std::stop_source source;
    std::atomic<std::size_t> ran{0};
    parallelFor(
        "test", 100000, 2,
        [&](std::size_t, unsigned) {
            if (++ran == 50) source.request_stop();
        },
        source.get_token());
    EXPECT_LT(ran, 100u);

    setParallelFault([](std::string_view loop, std::size_t item) {
        if (loop == "faulty" && item == 3) throw std::runtime_error("injected");
    });
    EXPECT_NO_THROW(parallelFor("other", 10, 2, [](std::size_t, unsigned) {}));
    EXPECT_THROW(parallelFor("faulty", 10, 2, [](std::size_t, unsigned) {}), std::runtime_error);
    setParallelFault({});
    EXPECT_NO_THROW(parallelFor("faulty", 10, 2, [](std::size_t, unsigned) {}));
}
