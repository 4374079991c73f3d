#include "studio/core/jobs/studio_job.h"

#include <gtest/gtest.h>

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

constexpr const char* minimalJson =
    R"({"createdAt":100.5,"fraction":0.0,"id":"11111111-2222-4333-8444-555555555555",)"
    R"("imageCount":3,"name":"Mug","notes":[],"options":{"detail":"medium","exportOBJ":true,)"
    R"("exportPointCloud":true,"highFeatureSensitivity":false,"isolateSubject":false,)"
    R"("objectMasking":true,"sequentialOrdering":true,"useMotionData":true},"phase":"ready",)"
    R"("source":{"folder":{}}})";

TEST(JobFileCoding, AbsentOptionalsAreLeftOutAndNotesAlwaysWritten) {
    EXPECT_EQ(encoder.encode(minimalJob()), minimalJson);
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

TEST(JobFileCoding, SourceNeedsExactlyOneKnownKey) {
    auto withSource = [](const std::string& source) {
        std::string text = minimalJson;
        text.replace(text.find(R"({"folder":{}})"), 13, source);
        return decoder.decode<StudioJob>(text);
    };
    EXPECT_TRUE(withSource(R"({"folder":{}})"));
    for (const char* bad : {R"({"folder":{},"phone":{"deviceName":"x"}})", "{}"}) {
        auto read = withSource(bad);
        ASSERT_FALSE(read) << bad;
        EXPECT_NE(read.error().message.find("Invalid number of keys found, expected one."),
                  std::string::npos);
    }
    EXPECT_FALSE(withSource(R"({"cloud":{}})"));
    EXPECT_FALSE(withSource(R"({"phone":{}})"));
    EXPECT_FALSE(withSource(R"("folder")"));
}

TEST(JobFileCoding, RequiredKeys) {
    std::string noNotes = minimalJson;
    noNotes.erase(noNotes.find(R"("notes":[],)"), 11);
    EXPECT_FALSE(decoder.decode<StudioJob>(noNotes));
    std::string badPhase = minimalJson;
    badPhase.replace(badPhase.find(R"("ready")"), 7, R"("paused")");
    EXPECT_FALSE(decoder.decode<StudioJob>(badPhase));
    std::string wrongType = minimalJson;
    wrongType.replace(wrongType.find(R"("imageCount":3)"), 14, R"("imageCount":"3")");
    EXPECT_FALSE(decoder.decode<StudioJob>(wrongType));
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
