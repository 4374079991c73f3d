#include "engine/reconstruction/local/working_images.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "engine/photos/photo_exif.h"
#include "link/records/manifest_file.h"
#include "link/records/record_coding.h"

namespace pelorin::engine::local {

namespace {

using nlohmann::json;

cv::Mat toMat(const PixelBuffer& buffer) {
    if (buffer.width <= 0 || buffer.height <= 0 || buffer.channels <= 0 ||
        buffer.bytesPerRow < static_cast<std::size_t>(buffer.width * buffer.channels) ||
        buffer.data.size() < buffer.bytesPerRow * static_cast<std::size_t>(buffer.height))
        return {};
    const int type = buffer.channels == 1 ? CV_8UC1 : buffer.channels == 3 ? CV_8UC3 : CV_8UC4;
    return cv::Mat(buffer.height, buffer.width, type, const_cast<std::uint8_t*>(buffer.data.data()),
                   buffer.bytesPerRow);
}

std::string workingName(const PhotogrammetrySample& sample, std::size_t index) {
    std::string stem = sample.sourceFile ? sample.sourceFile->stem().string()
                                         : "photo_" + std::to_string(sample.id);
    // COLMAP names images by their file names, and its pair lists split at spaces: keep them
    // unique and plain.
    for (char& c : stem)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) <= 32) c = '_';
    // Zero-padded so that name order, which sequential matching follows, is capture order.
    char number[16];
    std::snprintf(number, sizeof number, "%05zu_", index + 1);
    return number + stem + ".jpg";
}

}  // namespace

bool writeImage(const std::filesystem::path& file, const cv::Mat& image,
                const std::vector<int>& parameters) {
    std::vector<std::uint8_t> bytes;
    if (!cv::imencode(file.extension().string(), image, bytes, parameters)) return false;
    return static_cast<bool>(common::writeFileAtomically(file, bytes));
}

pelorin::Expected<PreparedImages, PhotogrammetryError> prepareImages(
    const SampleSource& samples, const std::filesystem::path& folder, const PrepareOptions& options,
    const PrepareEvents& events, std::stop_token stop) {
    std::error_code error;
    std::filesystem::create_directories(folder / "images", error);
    if (!error) std::filesystem::create_directories(folder / "masks", error);
    if (error)
        return pelorin::unexpected(
            PhotogrammetryError{PhotogrammetryError::Kind::invalidOutput, 0, error.message()});
    PreparedImages prepared;
    std::size_t index = 0;
    while (!stop.stop_requested()) {
        auto sample = samples();
        if (!sample) break;
        const std::size_t position = index++;
        if (!prepared.manifest && sample->sourceFile)
            prepared.manifest = link::readManifest(sample->sourceFile->parent_path());
        cv::Mat image = toMat(sample->image);
        if (image.empty()) {
            const auto reason = sample->metadata.find("error");
            if (events.invalid)
                events.invalid(sample->id, reason != sample->metadata.end()
                                               ? reason->second
                                               : "the image could not be decoded");
            continue;
        }
        if (image.channels() == 1) cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
        if (image.channels() == 4) cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
        const double scale =
            std::min(1.0, options.longSide / double(std::max(image.cols, image.rows)));
        cv::Mat working;
        if (scale < 1)
            cv::resize(image, working, {}, scale, scale, cv::INTER_AREA);
        else
            working = image.clone();

        WorkingImage record;
        record.id = sample->id;
        record.name = workingName(*sample, position);
        if (sample->sourceFile) record.source = sample->sourceFile->filename().string();
        record.width = working.cols;
        record.height = working.rows;
        record.scale = static_cast<double>(working.cols) / image.cols * sample->decodedScale;
        record.gravity = sample->gravity;
        if (prepared.manifest && sample->sourceFile) {
            for (const auto& photo : prepared.manifest->images) {
                if (photo.fileName != record.source) continue;
                if (photo.intrinsics && photo.intrinsics->size() == 9 && (*photo.intrinsics)[0] > 0)
                    record.focalPixels = (*photo.intrinsics)[0] * record.scale;
                if (!record.gravity && photo.gravity)
                    record.gravity =
                        std::array<double, 3>{photo.gravity->x, photo.gravity->y, photo.gravity->z};
                break;
            }
        }
        if (!record.focalPixels && sample->sourceFile) {
            // The lens as the photo's Exif gives it, in 35 mm terms: relative to the diagonal.
            const auto exif = readExif(*sample->sourceFile);
            if (exif && exif->focalLength35mm >= options.leastFocal35mm &&
                exif->focalLength35mm <= options.mostFocal35mm)
                record.focalPixels = exif->focalLength35mm / options.fullFrameDiagonal *
                                     std::hypot(working.cols, working.rows);
        }
        if (options.useMasks && sample->objectMask) {
            cv::Mat mask = toMat(*sample->objectMask);
            if (!mask.empty() && mask.channels() == 1) {
                cv::resize(mask, mask, working.size(), 0, 0, cv::INTER_LINEAR);
                cv::threshold(mask, mask, 127, 255, cv::THRESH_BINARY);
                // Features come only from the object; a grown mask keeps its silhouette.
                cv::Mat grown;
                cv::dilate(mask, grown, cv::getStructuringElement(cv::MORPH_ELLIPSE, {15, 15}));
                if (!writeImage(folder / "masks" / (record.name + ".png"), grown, {}))
                    return pelorin::unexpected(
                        PhotogrammetryError{PhotogrammetryError::Kind::invalidOutput, 0,
                                            "a mask could not be written"});
                record.masked = true;
            }
        }
        if (!writeImage(folder / "images" / record.name, working, {cv::IMWRITE_JPEG_QUALITY, 95}))
            return pelorin::unexpected(PhotogrammetryError{PhotogrammetryError::Kind::invalidOutput,
                                                           0,
                                                           "a working image could not be written"});
        prepared.images.push_back(record);
        if (events.progress) events.progress(index);
    }
    return prepared;
}

pelorin::Expected<std::monostate, std::string> savePrepared(const PreparedImages& prepared,
                                                            const std::filesystem::path& file) {
    json root;
    root["downsampled"] = prepared.downsampled;
    root["images"] = json::array();
    for (const auto& image : prepared.images) {
        json entry = {{"id", image.id},        {"name", image.name},     {"source", image.source},
                      {"width", image.width},  {"height", image.height}, {"scale", image.scale},
                      {"masked", image.masked}};
        if (image.gravity) entry["gravity"] = *image.gravity;
        if (image.focalPixels) entry["focalPixels"] = *image.focalPixels;
        root["images"].push_back(entry);
    }
    if (prepared.manifest)
        root["manifest"] = json::parse(link::makeRecordEncoder().encode(*prepared.manifest));
    const std::string text = root.dump();
    auto written = common::writeFileAtomically(file, bytesOf(text));
    if (!written) return pelorin::unexpected(written.error().description());
    return std::monostate{};
}

std::optional<PreparedImages> loadPrepared(const std::filesystem::path& file) {
    auto bytes = common::readFile(file, 256 << 20);
    if (!bytes) return std::nullopt;
    try {
        const json root = json::parse(bytes->text());
        PreparedImages prepared;
        prepared.downsampled = root.at("downsampled").get<bool>();
        for (const auto& entry : root.at("images")) {
            WorkingImage image;
            image.id = entry.at("id").get<std::int64_t>();
            image.name = entry.at("name").get<std::string>();
            image.source = entry.at("source").get<std::string>();
            image.width = entry.at("width").get<int>();
            image.height = entry.at("height").get<int>();
            image.scale = entry.at("scale").get<double>();
            image.masked = entry.at("masked").get<bool>();
            if (entry.contains("gravity"))
                image.gravity = entry["gravity"].get<std::array<double, 3>>();
            if (entry.contains("focalPixels"))
                image.focalPixels = entry["focalPixels"].get<double>();
            prepared.images.push_back(std::move(image));
        }
        if (root.contains("manifest")) {
            auto manifest =
                link::makeRecordDecoder().decodeJson<link::CaptureManifest>(root["manifest"]);
            if (!manifest) return std::nullopt;
            prepared.manifest = std::move(manifest.value());
        }
        return prepared;
    } catch (const std::exception&) {
        return std::nullopt;  // a damaged record: the step runs again
    }
}

}  // namespace pelorin::engine::local
