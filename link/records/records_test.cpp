#include "link/records/record_coding.h"

#include <gtest/gtest.h>

#include "link/records/capture_records.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/wire_cases.h"

namespace pelorin::link {
namespace {

using pelorin::testing::expectEachDecodes;
using pelorin::testing::expectEachEncodes;
using pelorin::testing::expectEachRefused;

const auto encoder = makeRecordEncoder();
const auto decoder = makeRecordDecoder();
const Uuid captureID = *Uuid::parse("0A1B2C3D-4E5F-4061-8273-948596A7B8C9");

TEST(OptionsCoding, AbsentOrNullKeysReadAsDefaults) {
    expectEachDecodes<ProcessingOptions>(
        "records/options/decoded", {{"empty-object.json", {}},
                                    {"null-and-unknown-keys.json",
                                     {.detail = ProcessingDetail::full, .isolateSubject = true}}});
}

TEST(OptionsCoding, UnknownDetailOrWrongTypeIsUnreadable) {
    expectEachRefused<ProcessingOptions>("records/options/bad", 4);
}

TEST(StatusCoding, OptionalKeysAreLeftOut) {
    const JobStatus queued{.captureID = captureID, .phase = JobPhase::queued, .fraction = 0};
    JobStatus everyOptional = queued;
    everyOptional.stage = "Aligning photos";
    everyOptional.secondsRemaining = 12.5;
    everyOptional.message = "x";
    everyOptional.modelBytes = 1234567890123;
    expectEachEncodes<JobStatus>(
        "records/status/encoded",
        {{"required-only.json", queued}, {"every-optional.json", everyOptional}});
}

TEST(StatusCoding, ReadingRules) {
    // Lower-case UUIDs, null optionals and unknown keys are all fine.
    expectEachDecodes<JobStatus>(
        "records/status/decoded",
        {{"lower-case-id-null-and-unknown-keys.json",
          {.captureID = captureID, .phase = JobPhase::finished, .fraction = 1}}});
    expectEachRefused<JobStatus>("records/status/bad", 4,
                                 {{"capture-id-missing.json", "captureID"}});
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

// The required keys alone and no photos: what the records/manifest/decoded files share.
CaptureManifest bareManifest() {
    CaptureManifest manifest;
    manifest.id = captureID;
    manifest.name = "n";
    manifest.deviceModel = "d";
    manifest.appVersion = "1";
    return manifest;
}

TEST(ManifestCoding, ExactBytes) {
    expectEachEncodes<CaptureManifest>("records/manifest/encoded",
                                       {{"sample.json", sampleManifest()}});
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
    CaptureManifest withoutGravity = bareManifest();
    withoutGravity.images.push_back({.fileName = "a.jpg", .capturedAt = Date{1}, .hasDepth = true});
    // Bounds are read whatever the length of centre; their user checks it.
    CaptureManifest shortCentre = bareManifest();
    shortCentre.objectBounds = ObjectBounds{.centre = {1}, .radius = 2, .height = 1};
    expectEachDecodes<CaptureManifest>("records/manifest/decoded",
                                       {{"image-without-gravity.json", withoutGravity},
                                        {"short-bounds-centre.json", shortCentre}});
    // without-options.json: options is required even though its own keys are not.
    expectEachRefused<CaptureManifest>("records/manifest/bad", 2);
}

TEST(HostileInput, NeverThrowsAndExplains) {
    expectEachRefused<JobStatus>("records/hostile", 7);
    expectEachRefused<CaptureManifest>("records/hostile", 7);
    // Made here: a file of 100000 brackets would be noise in the repository.
    const std::string nested(100000, '[');
    auto status = decoder.decode<JobStatus>(nested);
    EXPECT_FALSE(status);
    if (!status) {
        EXPECT_FALSE(status.error().message.empty());
    }
    EXPECT_FALSE(decoder.decode<CaptureManifest>(nested));

    expectEachRefused<ImageRecord>("records/image/bad", 2);
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
