#include "engine/reconstruction/local/colmap/colmap_progress.h"

#include <gtest/gtest.h>

using pelorin::engine::local::colmapLineFraction;

TEST(ColmapProgressTest, ReadsEachCommandsProgressLine) {
    EXPECT_DOUBLE_EQ(*colmapLineFraction("Processed file [3/12]", 0), 0.25);
    EXPECT_DOUBLE_EQ(*colmapLineFraction("Matching image [9/10] in 0.099s", 0), 0.9);
    EXPECT_DOUBLE_EQ(*colmapLineFraction("Matching block [1/2, 2/2] in 3.1s", 0), 0.5);
    EXPECT_DOUBLE_EQ(*colmapLineFraction("Matching block [2/2, 2/2]", 0), 1.0);
    EXPECT_DOUBLE_EQ(*colmapLineFraction("Matching block [1/4] in 0.5s", 0), 0.25);
    EXPECT_DOUBLE_EQ(*colmapLineFraction("Registering image #5 (18)", 72), 0.25);
    EXPECT_DOUBLE_EQ(*colmapLineFraction("  Processed file [1/1]", 0), 1.0);
}

TEST(ColmapProgressTest, IgnoresOtherAndMalformedLines) {
    for (const char* line :
         {"", "Bundle adjustment report", "Processed file [", "Processed file [3/0]",
          "Processed file [-1/4]", "Processed file [3/4", "Processed file [x/4]",
          "Matching block [0/2, 1/2]", "Matching block [1/2 1/2]", "Registering image #5",
          "Registering image #5 (3"}) {
        EXPECT_EQ(colmapLineFraction(line, 4), std::nullopt) << line;
    }
    // Without a known number of photos the mapper's count means nothing.
    EXPECT_EQ(colmapLineFraction("Registering image #5 (3)", 0), std::nullopt);
    // More registered than expected (a photo counted twice) stays within the step.
    EXPECT_DOUBLE_EQ(*colmapLineFraction("Registering image #9 (9)", 8), 1.0);
}
