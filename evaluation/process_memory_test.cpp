#include "evaluation/process_memory.h"

#include <gtest/gtest.h>

namespace pelorin::evaluation {
namespace {

TEST(ProcessMemory, ParentIdOfAStatLine) {
    EXPECT_EQ(parentInStat("1234 (bash) S 77 1234 1234 0 -1"), 77);
    // The command name may hold spaces and parentheses of its own.
    EXPECT_EQ(parentInStat("99 (a (b) c) R 5 99 99 0 -1"), 5);
    EXPECT_EQ(parentInStat("99 (x) S"), std::nullopt);
    EXPECT_EQ(parentInStat("garbage"), std::nullopt);
    EXPECT_EQ(parentInStat(""), std::nullopt);
}

}  // namespace
}  // namespace pelorin::evaluation
