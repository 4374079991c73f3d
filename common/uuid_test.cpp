#include "common/uuid.h"

#include <gtest/gtest.h>

#include <set>

namespace pelorin {
namespace {

TEST(Uuid, WritesUpperCaseAndReadsEitherCase) {
    auto lower = Uuid::parse("6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b");
    auto upper = Uuid::parse("6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B");
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->string(), "6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B");
}

TEST(Uuid, RefusesMalformedText) {
    for (const char* text :
         {"", "6F1C2A3B4D5E4F608A7B9C0D1E2F3A4B", "6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4",
          "6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4BC", "6F1C2A3B+4D5E-4F60-8A7B-9C0D1E2F3A4B",
          "6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4G", "6F1C2A3-B4D5E-4F60-8A7B-9C0D1E2F3A4B"}) {
        EXPECT_FALSE(Uuid::parse(text)) << text;
    }
}

TEST(Uuid, RandomIsVersionFourAndDistinct) {
    std::set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        Uuid uuid = Uuid::random();
        EXPECT_EQ(uuid.bytes[6] >> 4, 4);
        EXPECT_EQ(uuid.bytes[8] >> 6, 2);
        EXPECT_EQ(Uuid::parse(uuid.string()), uuid);
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace pelorin
