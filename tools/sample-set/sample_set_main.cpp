// pelorin-sample-set: turns the renders of make_sample.py into the shipped sample folder (JPEG
// photos with their lens in EXIF, and the capture.json a phone would send), the truth folder
// and the reduced set that the tests reconstruct.
//
//   pelorin-sample-set <render-folder> --photos <folder> --truth <folder>
//                      [--reduced <folder>] [--check]
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "engine/photos/photo_exif.h"
#include "link/records/record_coding.h"
#include "tools/command_line.h"
#include "tools/sample-set/sample_capture.h"
#include "tools/sample-set/view_check.h"

namespace fs = std::filesystem;
using namespace pelorin;

namespace {

constexpr int jpegQuality = 90;
// Lens of the renders: 35 mm on a 36 mm wide sensor.
constexpr double lensMillimetres = 35.0;
// The reduced set keeps the middle ring of views (neighbours 15 degrees apart, close enough
// for features to match at the small size) at half the size.
constexpr double reducedScale = 0.5;

constexpr const char* usageText =
    "usage: pelorin-sample-set <render-folder> --photos <folder> --truth <folder> "
    "[--reduced <folder>] [--check]\n"
    "  packs rendered views into the sample photos, their truth and the reduced test set\n";

int usage() {
    return tools::usageError(usageText);
}

bool fail(const std::string& message) {
    std::fprintf(stderr, "pelorin-sample-set: %s\n", message.c_str());
    return false;
}

bool writeBytes(const fs::path& path, std::span<const std::uint8_t> bytes) {
    auto written = common::writeFileAtomically(path, bytes);
    return written ? true : fail(path.string() + ": " + written.error().description());
}

std::string exifDate(Date date) {
    const auto seconds =
        static_cast<std::time_t>(date.secondsSinceReferenceDate + Date::unixOffset);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[20];
    std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &utc);
    return text;
}

// Writes the photos and capture.json of one set into `folder`.
bool writePhotoSet(const fs::path& renders, const evaluation::TruthCameras& cameras,
                   const std::vector<std::size_t>& indices, const fs::path& folder) {
    fs::create_directories(folder);
    std::vector<std::int64_t> sizes;
    for (std::size_t i = 0; i < cameras.views.size(); ++i) {
        const auto& view = cameras.views[i];
        const auto source = renders / fs::path(view.name).replace_extension(".png");
        cv::Mat image = cv::imread(source.string(), cv::IMREAD_COLOR);
        if (image.empty()) return fail(source.string() + ": the render cannot be read");
        if (image.cols != cameras.width || image.rows != cameras.height)
            cv::resize(image, image, cv::Size(cameras.width, cameras.height), 0, 0, cv::INTER_AREA);
        std::vector<std::uint8_t> jpeg;
        cv::imencode(".jpg", image, jpeg, {cv::IMWRITE_JPEG_QUALITY, jpegQuality});
        engine::ExifFields exif;
        exif.make = "Google";
        exif.model = "Pixel 8";
        exif.dateTimeOriginal = exifDate(samples::capturedAt(indices[i]));
        exif.focalLengthMillimetres = lensMillimetres;
        exif.focalLength35mm = static_cast<std::uint16_t>(lensMillimetres);
        exif.width = static_cast<std::uint32_t>(image.cols);
        exif.height = static_cast<std::uint32_t>(image.rows);
        auto photo = engine::withExif(jpeg, engine::makeExifSegment(exif));
        if (!photo) return fail(view.name + ": " + photo.error());
        if (!writeBytes(folder / view.name, *photo)) return false;
        sizes.push_back(static_cast<std::int64_t>(photo->size()));
    }
    auto manifest = samples::makeSampleManifest(cameras, sizes);
    for (std::size_t i = 0; i < manifest.images.size(); ++i)
        manifest.images[i].capturedAt = samples::capturedAt(indices[i]);
    if (auto problem = manifest.validationMessage()) return fail(*problem);
    const auto text = link::makeRecordEncoder().encode(manifest);
    return writeBytes(folder / std::string(link::CaptureManifest::fileName), bytesOf(text));
}

bool writeTruth(const fs::path& renderTruth, const evaluation::TruthCameras& cameras,
                const fs::path& folder) {
    fs::create_directories(folder);
    auto mesh = common::readFile(renderTruth / "mesh.ply", 256 << 20);
    if (!mesh) return fail(mesh.error().description());
    if (!writeBytes(folder / "mesh.ply", mesh->bytes())) return false;
    auto saved = evaluation::saveTruthCameras(cameras, folder / "cameras.json");
    return saved ? true : fail(saved.error());
}

// Neighbouring views of each ring must agree with the cameras and the mesh.
bool check(const fs::path& renders, const evaluation::TruthCameras& cameras,
           const evaluation::Mesh& statue) {
    if (!cameras.objectBounds) return fail("the truth has no object bounds");
    bool good = true;
    const std::size_t perRing = cameras.views.size() / 3;
    for (std::size_t i = 0; i + 1 < cameras.views.size(); i += 5) {
        const std::size_t j = (i + 1) % perRing == 0 ? i + 1 - perRing : i + 1;
        auto load = [&](std::size_t k) {
            return cv::imread(
                (renders / fs::path(cameras.views[k].name).replace_extension(".png")).string(),
                cv::IMREAD_GRAYSCALE);
        };
        const auto result = samples::checkViewPair(load(i), load(j), cameras.views[i],
                                                   cameras.views[j], statue, *cameras.objectBounds);
        const bool pass = result.consistent * 4 >= result.matches &&
                          result.medianEpipolarPixels < 0.6 && result.onStatue >= 15 &&
                          result.medianSurfaceMetres < 0.002;
        std::printf(
            "%s-%s: %zu of %zu matches consistent, epipolar median %.3f px, %zu on the statue "
            "at %.2f mm%s\n",
            cameras.views[i].name.c_str(), cameras.views[j].name.c_str(), result.consistent,
            result.matches, result.medianEpipolarPixels, result.onStatue,
            1000 * result.medianSurfaceMetres, pass ? "" : "  FAILED");
        good = good && pass;
    }
    return good;
}

}  // namespace

int main(int argc, char** argv) {
    if (auto answered = tools::answerStandardOptions(argc, argv, "pelorin-sample-set", usageText))
        return *answered;
    std::optional<fs::path> renders, photos, truth, reduced;
    bool wantCheck = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto next = [&]() -> std::optional<fs::path> {
            if (i + 1 >= argc) return std::nullopt;
            return fs::path(argv[++i]);
        };
        if (argument == "--photos")
            photos = next();
        else if (argument == "--truth")
            truth = next();
        else if (argument == "--reduced")
            reduced = next();
        else if (argument == "--check")
            wantCheck = true;
        else if (!argument.starts_with("--") && !renders)
            renders = argument;
        else
            return usage();
    }
    if (!renders || !photos || !truth) return usage();
    auto cameras = evaluation::loadTruthCameras(*renders / "truth" / "cameras.json");
    if (!cameras) return fail(cameras.error()), 1;
    const auto pngs = *renders / "renders";
    if (wantCheck) {
        auto statue = evaluation::loadMesh(*renders / "truth" / "mesh.ply");
        if (!statue) return fail(statue.error()), 1;
        if (!check(pngs, *cameras, *statue)) return 1;
    }
    std::vector<std::size_t> all(cameras->views.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    if (!writePhotoSet(pngs, *cameras, all, *photos)) return 1;
    if (!writeTruth(*renders / "truth", *cameras, *truth)) return 1;
    if (reduced) {
        const std::size_t ring = cameras->views.size() / 3;
        const auto few =
            samples::scaledCameras(samples::viewRange(*cameras, ring, ring), reducedScale);
        std::vector<std::size_t> indices;
        for (std::size_t i = ring; i < 2 * ring; ++i) indices.push_back(i);
        if (!writePhotoSet(pngs, few, indices, *reduced / "photos")) return 1;
        if (!writeTruth(*renders / "truth", few, *reduced / "truth")) return 1;
    }
    return 0;
}
