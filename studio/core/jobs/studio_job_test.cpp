#include "studio/core/jobs/studio_job.h"

#include <gtest/gtest.h>

#include "tests/support/wire_cases.h"

namespace pelorin::studio {
namespace {

const auto encoder = link::makeRecordEncoder();
const auto decoder = link::makeRecordDecoder();
const Uuid jobID = *Uuid::parse("11111111-2222-4333-8444-555555555555");

StudioJob minimalJob() {
    StudioJob job;
    job.id = jobID;
    job.name = "Mug";
    job.createdAt = Date{100.5};
    job.imageCount = 3;
    return job;
}

TEST(JobFileCoding, AbsentOptionalsAreLeftOutAndNotesAlwaysWritten) {
    pelorin::testing::expectEachEncodes<StudioJob>("jobs/encoded",
                                                   {{"minimal.json", minimalJob()}});
}

TEST(JobFileCoding, EveryFieldRoundTrips) {
    StudioJob job = minimalJob();
    job.source = StudioJob::Source::phone("Ana's phone");
    job.expectedImageCount = 40;
    job.phase = JobPhase::finished;
    job.fraction = 1;
    job.stage = "Painting textures";
    job.secondsRemaining = 3.25;
    job.message = "Done";
    job.notes = {"one", "two"};
    job.outputs = StudioJob::Outputs{.usdzBytes = 5000000000,
                                     .hasOBJ = true,
                                     .hasPointCloud = true,
                                     .pointCount = 12345,
                                     .skippedImages = 2,
                                     .usedMotionData = true,
                                     .maskedImages = 0};
    job.startedAt = Date{10};
    job.finishedAt = Date{70.5};
    job.captureMode = CaptureMode::classic;
    const std::string text = encoder.encode(job);
    EXPECT_NE(text.find(R"("source":{"phone":{"deviceName":"Ana's phone"}})"), std::string::npos);
    EXPECT_EQ(text.find("glbBytes"), std::string::npos);
    auto read = decoder.decode<StudioJob>(text);
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(*read, job);
}

// The files of jobs/source/bad and jobs/keys/bad are jobs/encoded/minimal.json, whose folder
// source reads, with one fault each.
TEST(JobFileCoding, SourceNeedsExactlyOneKnownKey) {
    const std::string notOneKind = "Invalid number of keys found, expected one.";
    pelorin::testing::expectEachRefused<StudioJob>(
        "jobs/source/bad", 5, {{"two-kinds.json", notOneKind}, {"empty.json", notOneKind}});
}

TEST(JobFileCoding, RequiredKeys) {
    pelorin::testing::expectEachRefused<StudioJob>("jobs/keys/bad", 3);
}

TEST(JobStatusAndDuration, FollowTheJob) {
    StudioJob job = minimalJob();
    EXPECT_FALSE(job.status().modelBytes);
    EXPECT_FALSE(job.duration());
    job.outputs = StudioJob::Outputs{.usdzBytes = 777};
    job.startedAt = Date{10};
    EXPECT_FALSE(job.duration());
    job.finishedAt = Date{70.5};
    EXPECT_EQ(job.duration(), 60.5);
    const auto status = job.status();
    EXPECT_EQ(status.modelBytes, 777);
    EXPECT_EQ(status.captureID, jobID);
    EXPECT_EQ(status.phase, JobPhase::ready);
}

TEST(ImportNames, CollisionsIgnoreLetterCase) {
    std::unordered_set<std::string> taken;
    EXPECT_EQ(uniqueImportName("a.jpg", taken), "a.jpg");
    EXPECT_EQ(uniqueImportName("A.JPG", taken), "A-2.JPG");
    EXPECT_EQ(uniqueImportName("a-2.jpg", taken), "a-2-2.jpg");
    EXPECT_EQ(uniqueImportName("README", taken), "README");
    EXPECT_EQ(uniqueImportName("readme", taken), "readme-2");
    EXPECT_EQ(uniqueImportName("\xC3\x89t\xC3\xA9.png", taken), "\xC3\x89t\xC3\xA9.png");
    EXPECT_EQ(uniqueImportName("\xC3\xA9t\xC3\xA9.png", taken), "\xC3\xA9t\xC3\xA9-2.png");
}

}  // namespace
}  // namespace pelorin::studio
