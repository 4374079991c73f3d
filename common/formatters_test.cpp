#include "common/formatters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pelorin::common {
namespace {

TEST(FormattersTest, DurationRoundsBeforeChoosingTheUnit) {
    EXPECT_EQ(Formatters::duration(59.6), "1 min 0 s");
    EXPECT_EQ(Formatters::duration(59.4), "59 s");
    EXPECT_EQ(Formatters::duration(3599.4), "59 min 59 s");
    EXPECT_EQ(Formatters::duration(3599.5), "1 h 0 min");
    EXPECT_EQ(Formatters::duration(3900), "1 h 5 min");
    EXPECT_EQ(Formatters::duration(0.0), "0 s");
    EXPECT_EQ(Formatters::duration(90061), "25 h 1 min");
}

TEST(FormattersTest, DurationHasNoTextForImpossibleTimes) {
    EXPECT_EQ(Formatters::duration(-1), std::nullopt);
    EXPECT_EQ(Formatters::duration(std::nullopt), std::nullopt);
    EXPECT_EQ(Formatters::duration(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(Formatters::duration(std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(Formatters::duration(1e300), std::nullopt);
}

TEST(FormattersTest, PercentClampsAndRounds) {
    EXPECT_EQ(Formatters::percent(1.7), "100%");
    EXPECT_EQ(Formatters::percent(0.004), "0%");
    EXPECT_EQ(Formatters::percent(0.005), "1%");
    EXPECT_EQ(Formatters::percent(0.425), "43%");
    EXPECT_EQ(Formatters::percent(-0.5), "0%");
    EXPECT_EQ(Formatters::percent(std::nan("")), "0%");
}

TEST(FormattersTest, BytesUseDecimalUnitsWithoutPrintingAThousand) {
    EXPECT_EQ(Formatters::bytes(0), "0 bytes");
    EXPECT_EQ(Formatters::bytes(1), "1 byte");
    EXPECT_EQ(Formatters::bytes(999), "999 bytes");
    EXPECT_EQ(Formatters::bytes(1000), "1 KB");
    EXPECT_EQ(Formatters::bytes(999'499), "999 KB");
    EXPECT_EQ(Formatters::bytes(999'500), "1 MB");
    EXPECT_EQ(Formatters::bytes(1'234'567'890), "1.2 GB");
    EXPECT_EQ(Formatters::bytes(999'960'000), "1 GB");
    EXPECT_EQ(Formatters::bytes(15'500'000), "15.5 MB");
    EXPECT_EQ(Formatters::bytes(-1), std::nullopt);
    EXPECT_EQ(Formatters::bytes(std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace pelorin::common
