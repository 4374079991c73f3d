#include "link/records/record_coding.h"

#include <gtest/gtest.h>

#include "link/records/capture_records.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::link {
namespace {

const auto encoder = makeRecordEncoder();
const auto decoder = makeRecordDecoder();
const Uuid captureID = *Uuid::parse("0A1B2C3D-4E5F-4061-8273-948596A7B8C9");

TEST(OptionsCoding, AbsentOrNullKeysReadAsDefaults) {
    auto empty = decoder.decode<ProcessingOptions>("{}");
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, ProcessingOptions{});

    auto partial = decoder.decode<ProcessingOptions>(
        R"({"detail":"full","exportOBJ":null,"isolateSubject":true,"future":1})");
    ASSERT_TRUE(partial);
    ProcessingOptions expected;
    expected.detail = ProcessingDetail::full;
    expected.isolateSubject = true;
    EXPECT_EQ(*partial, expected);
}

TEST(OptionsCoding, UnknownDetailOrWrongTypeIsUnreadable) {
    EXPECT_FALSE(decoder.decode<ProcessingOptions>(R"({"detail":"ultra"})"));
    EXPECT_FALSE(decoder.decode<ProcessingOptions>(R"({"detail":"Medium"})"));
    EXPECT_FALSE(decoder.decode<ProcessingOptions>(R"({"exportOBJ":1})"));
    EXPECT_FALSE(decoder.decode<ProcessingOptions>("[]"));
}

TEST(StatusCoding, OptionalKeysAreLeftOut) {
    JobStatus status{.captureID = captureID, .phase = JobPhase::queued, .fraction = 0};
    EXPECT_EQ(encoder.encode(status),
              R"({"captureID":"0A1B2C3D-4E5F-4061-8273-948596A7B8C9","fraction":0.0,)"
              R"("phase":"queued"})");
    status.stage = "Aligning photos";
    status.secondsRemaining = 12.5;
    status.message = "x";
    status.modelBytes = 1234567890123;
    EXPECT_EQ(encoder.encode(status),
              R"({"captureID":"0A1B2C3D-4E5F-4061-8273-948596A7B8C9","fraction":0.0,)"
              R"("message":"x","modelBytes":1234567890123,"phase":"queued",)"
              R"("secondsRemaining":12.5,"stage":"Aligning photos"})");
    EXPECT_EQ(decoder.decode<JobStatus>(encoder.encode(status)).value(), status);
}

TEST(StatusCoding, ReadingRules) {
    // Lower-case UUIDs, null optionals and unknown keys are all fine.
    auto status = decoder.decode<JobStatus>(
        R"({"captureID":"0a1b2c3d-4e5f-4061-8273-948596a7b8c9","fraction":1,"phase":"finished",)"
        R"("stage":null,"extra":{"a":[1,2]}})");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->captureID, captureID);
    EXPECT_EQ(status->fraction, 1.0);
    EXPECT_FALSE(status->stage);

    EXPECT_FALSE(decoder.decode<JobStatus>(
        R"({"captureID":"0A1B2C3D-4E5F-4061-8273-948596A7B8C9","fraction":0,"phase":"paused"})"));
    EXPECT_FALSE(decoder.decode<JobStatus>(
        R"({"captureID":"0A1B2C3D-4E5F-4061-8273-948596A7B8C9","fraction":"0","phase":"ready"})"));
    EXPECT_FALSE(
        decoder.decode<JobStatus>(R"({"captureID":"not-a-uuid","fraction":0,"phase":"ready"})"));
    auto missing = decoder.decode<JobStatus>(R"({"fraction":0,"phase":"ready"})");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find("captureID"), std::string::npos);
}

CaptureManifest sampleManifest() {
    CaptureManifest manifest;
    manifest.id = captureID;
    manifest.name = "Vase";
    manifest.createdAt = Date{700000000.25};
    manifest.deviceModel = "Pixel 8";
    manifest.appVersion = "1.2";
    ImageRecord image{.fileName = "IMG_1.HEIC", .capturedAt = Date{700000001.5}};
    image.gravity = Vector3{0, -1, 0.5};
    image.intrinsics = std::vector<float>{1000.5f, 0, 0, 0, 1000.5f, 0, 640, 480, 1};
    image.bytes = 2048;
    manifest.images.push_back(image);
    manifest.captureMode = CaptureMode::arGuided;
    manifest.objectBounds = ObjectBounds{{0.1f, 0.2f, -0.3f}, 0.25f, 0.5f};
    return manifest;
}

TEST(ManifestCoding, ExactBytes) {
    EXPECT_EQ(encoder.encode(sampleManifest()),
              R"({"appVersion":"1.2","captureMode":"arGuided","createdAt":700000000.25,)"
              R"("deviceModel":"Pixel 8","id":"0A1B2C3D-4E5F-4061-8273-948596A7B8C9",)"
              R"("images":[{"bytes":2048,"capturedAt":700000001.5,"fileName":"IMG_1.HEIC",)"
              R"("gravity":{"x":0.0,"y":-1.0,"z":0.5},"hasDepth":false,)"
              R"("intrinsics":[1000.5,0.0,0.0,0.0,1000.5,0.0,640.0,480.0,1.0]}],"name":"Vase",)"
              R"("objectBounds":{"centre":[0.1,0.2,-0.3],"height":0.5,"radius":0.25},)"
              R"("options":{"detail":"medium","exportOBJ":true,"exportPointCloud":true,)"
              R"("highFeatureSensitivity":false,"isolateSubject":false,"objectMasking":true,)"
              R"("sequentialOrdering":true,"useMotionData":true}})");
}

TEST(ManifestCoding, RoundTripsEveryField) {
    auto manifest = sampleManifest();
    manifest.images[0].cameraTransform = std::vector<float>(16, 0.1f);
    manifest.images[0].yawDegrees = -12.25;
    manifest.images[0].pitchDegrees = 3;
    auto read = decoder.decode<CaptureManifest>(encoder.encode(manifest));
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(*read, manifest);
}

TEST(ManifestCoding, RequiredAndOptionalImageKeys) {
    const std::string head =
        R"({"appVersion":"1","createdAt":0,"deviceModel":"d",)"
        R"("id":"0A1B2C3D-4E5F-4061-8273-948596A7B8C9","name":"n","options":{},"images":[)";
    auto noGravity = decoder.decode<CaptureManifest>(
        head + R"({"capturedAt":1,"fileName":"a.jpg","hasDepth":true}]})");
    ASSERT_TRUE(noGravity) << noGravity.error().message;
    EXPECT_FALSE(noGravity->images[0].gravity);
    EXPECT_FALSE(noGravity->objectBounds);

    EXPECT_FALSE(
        decoder.decode<CaptureManifest>(head + R"({"capturedAt":1,"fileName":"a.jpg"}]})"));
    // options is required even though its own keys are not.
    EXPECT_FALSE(decoder.decode<CaptureManifest>(
        R"({"appVersion":"1","createdAt":0,"deviceModel":"d","images":[],)"
        R"("id":"0A1B2C3D-4E5F-4061-8273-948596A7B8C9","name":"n"})"));
    // Bounds are read whatever the length of centre; their user checks it.
    auto shortCentre = decoder.decode<CaptureManifest>(
        head + R"(],"objectBounds":{"centre":[1],"height":1,"radius":2}})");
    ASSERT_TRUE(shortCentre);
    EXPECT_EQ(shortCentre->objectBounds->centre.size(), 1u);
}

TEST(HostileInput, NeverThrowsAndExplains) {
    const std::string nested(100000, '[');
    for (const std::string& text :
         {std::string(), std::string("{"), std::string("nul"), std::string("\xFF\xFE"), nested,
          std::string(R"({"captureID":"0A1B2C3D-4E5F-4061-8273-948596A7B8C9","fraction":1e999,)"
                      R"("phase":"ready"})"),
          std::string(R"({"images":[{"bytes":99999999999999999999}]})"),
          std::string(R"({"fileName":"\ud800","capturedAt":0,"hasDepth":false})")}) {
        auto status = decoder.decode<JobStatus>(text);
        EXPECT_FALSE(status);
        EXPECT_FALSE(decoder.decode<CaptureManifest>(text));
        if (!status) {
            EXPECT_FALSE(status.error().message.empty());
        }
    }
    EXPECT_FALSE(decoder.decode<ImageRecord>(
        R"({"fileName":"a","capturedAt":0,"hasDepth":false,"bytes":9223372036854775808})"));
    EXPECT_FALSE(decoder.decode<ImageRecord>(
        R"({"fileName":"a","capturedAt":0,"hasDepth":false,"bytes":1.5})"));
}

CaptureManifest manifestNamed(std::vector<std::string> names) {
    CaptureManifest manifest;
    manifest.id = Uuid::random();
    for (auto& name : names) manifest.images.push_back(ImageRecord{.fileName = std::move(name)});
    return manifest;
}

std::vector<std::string> numberedNames(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("IMG_" + std::to_string(i) + ".HEIC");
    return names;
}

TEST(ManifestValidation, CountsThenDuplicatesThenNames) {
    const std::string badName =
        "A photo in this capture has a name Studio cannot store. Take the capture again.";
    const std::string duplicateName =
        "Two photos in this capture have the same name. Take the capture again.";
    const std::vector<std::pair<std::vector<std::string>, std::optional<std::string>>> cases = {
        {{}, "This capture has no photos."},
        {numberedNames(2001), "This capture has too many photos (2001, at most 2000)."},
        {numberedNames(2000), std::nullopt},
        // Duplicates are reported before bad names.
        {{"capture.json", "capture.json"}, duplicateName},
        {{"a.jpg", "b.jpg", "a.jpg"}, duplicateName},
        // "é" precomposed (U+00E9) and decomposed (e + U+0301); letter case is no equivalence.
        {{"caf\xC3\xA9.jpg", "cafe\xCC\x81.jpg"}, duplicateName},
        {{"a.jpg", "A.jpg"}, std::nullopt},
        {{"Capture.JSON", "IMG_0001.JPG", "my photo 2.heic", "\xE5\x86\x99\xE7\x9C\x9F.jpg",
          "\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE.png"},
         std::nullopt},
    };
    for (const auto& [names, expected] : cases) {
        SCOPED_TRACE(names.empty() ? "" : names.back());
        EXPECT_EQ(manifestNamed(names).validationMessage(), expected);
    }
    for (const char* name :
         {"", ".hidden.jpg", "a/b.jpg", "a\\b.jpg", "capture.json", "a:b.jpg", "a?.jpg",
          "tab\there.jpg", "a<b.jpg", "a>b.jpg", "a\"b.jpg", "a|b.jpg", "a*b.jpg", "nl\n.jpg"}) {
        EXPECT_EQ(manifestNamed({"ok.jpg", name}).validationMessage(), badName) << name;
    }
}

TEST(MissingFiles, SizesAreComparedExactlyAndWithoutOneOnlyEmptyOrAbsentFilesAreMissing) {
    pelorin::testing::ScratchFolder folder;
    for (const auto& [name, size] : {std::pair{"exact.jpg", 100},
                                     {"longer.jpg", 101},
                                     {"shorter.jpg", 99},
                                     {"empty.jpg", 0},
                                     {"full.jpg", 5}})
        pelorin::testing::writeFile(folder / name, std::string(size, 'x'));
    auto sized = manifestNamed({"exact.jpg", "longer.jpg", "shorter.jpg", "absent.jpg"});
    for (auto& image : sized.images) image.bytes = 100;
    EXPECT_EQ(sized.missingFiles(folder.path()),
              (std::vector<std::string>{"longer.jpg", "shorter.jpg", "absent.jpg"}));

    std::filesystem::create_directory(folder / "folder.jpg");
    EXPECT_EQ(manifestNamed({"empty.jpg", "full.jpg", "folder.jpg"}).missingFiles(folder.path()),
              (std::vector<std::string>{"empty.jpg", "folder.jpg"}));
}

}  // namespace
}  // namespace pelorin::link
