#include "tests/support/awkward_photos.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/photos/photo_exif.h"
#include "engine/photos/photo_finder.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::testing {

namespace fs = std::filesystem;

namespace {

using Kind = Awkwardness;

bool changesPhotos(Kind kind) {
    return kind <= Kind::pngAlpha || kind == Kind::twoLenses;
}

int odd(double value) {
    return int(std::lround(value)) | 1;
}

void writeJpeg(const fs::path& file, const cv::Mat& image, engine::ExifFields exif,
               int quality = 95) {
    std::vector<std::uint8_t> jpeg;
    if (!cv::imencode(".jpg", image, jpeg, {cv::IMWRITE_JPEG_QUALITY, quality}))
        throw std::runtime_error("could not encode " + file.string());
    exif.width = std::uint32_t(image.cols);
    exif.height = std::uint32_t(image.rows);
    auto tagged = engine::withExif(jpeg, engine::makeExifSegment(exif));
    if (!tagged) throw std::runtime_error(tagged.error());
    writeFile(file, *tagged);
}

void writeImage(const fs::path& file, const cv::Mat& image, const std::vector<int>& parameters) {
    if (!cv::imwrite(file.string(), image, parameters))
        throw std::runtime_error("could not write " + file.string());
}

// Turns a photo's stored pixels so that `orientation` stands them up again.
cv::Mat storedFor(const cv::Mat& upright, std::uint16_t orientation) {
    cv::Mat stored;
    if (orientation == 3) cv::rotate(upright, stored, cv::ROTATE_180);
    if (orientation == 6) cv::rotate(upright, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
    if (orientation == 8) cv::rotate(upright, stored, cv::ROTATE_90_CLOCKWISE);
    return stored;
}

// A 35 mm focal length for a crop of the frame: the same lens over a smaller diagonal.
std::uint16_t croppedFocal(std::uint16_t focal35mm, cv::Size frame, cv::Size crop) {
    return std::uint16_t(std::lround(focal35mm * std::hypot(frame.width, frame.height) /
                                     std::hypot(crop.width, crop.height)));
}

// A scene that shares nothing with the object: shapes on noise, seeded by `seed`.
cv::Mat otherScene(cv::Size size, int seed) {
    cv::RNG random(seed);
    cv::Mat image(size, CV_8UC3);
    random.fill(image, cv::RNG::UNIFORM, 0, 255);
    cv::GaussianBlur(image, image, {0, 0}, 2);
    for (int s = 0; s < 40; ++s) {
        const cv::Scalar colour(random.uniform(0, 255), random.uniform(0, 255),
                                random.uniform(0, 255));
        cv::circle(image, {random.uniform(0, size.width), random.uniform(0, size.height)},
                   random.uniform(size.width / 60, size.width / 8), colour, -1);
    }
    return image;
}

struct Source {
    fs::path file;
    cv::Mat image;
    engine::ExifFields exif;
};

// Writes one source photo as `kind`; `turn` counts the photos this kind has written so far.
AwkwardPhoto writeChanged(const Source& source, Kind kind, int turn, const fs::path& to) {
    const std::string stem = source.file.stem().string();
    const cv::Mat& image = source.image;
    AwkwardPhoto photo{stem + ".jpg", kind, source.file, cv::Rect({}, image.size()), true};
    auto exif = source.exif;
    switch (kind) {
        case Kind::plain:
            writeJpeg(to / photo.file, image, exif);
            break;
        case Kind::turned3:
        case Kind::turned6:
        case Kind::turned8:
            exif.orientation = kind == Kind::turned3 ? 3 : kind == Kind::turned6 ? 6 : 8;
            writeJpeg(to / photo.file, storedFor(image, exif.orientation), exif);
            break;
        case Kind::portraitOdd: {
            if (turn % 2 == 0) {
                // Portrait, odd both ways.
                const int height = (image.rows - 1) | 1;
                const int width = odd(height * 3 / 4.0);
                photo.region = cv::Rect((image.cols - width) / 2, 0, width, height);
                exif.focalLength35mm =
                    croppedFocal(exif.focalLength35mm, image.size(), photo.region.size());
                writeJpeg(to / photo.file, image(photo.region).clone(), exif);
            } else {
                // Landscape at a size no working scale divides.
                cv::Mat resized;
                cv::resize(image, resized, {odd(image.cols * 0.78), odd(image.rows * 0.78)}, 0, 0,
                           cv::INTER_AREA);
                writeJpeg(to / photo.file, resized, exif);
            }
            break;
        }
        case Kind::upscale12:
        case Kind::upscale48: {
            const cv::Size size =
                kind == Kind::upscale12 ? cv::Size(4000, 3000) : cv::Size(8000, 6000);
            cv::Mat large;
            cv::resize(image, large, size, 0, 0, cv::INTER_CUBIC);
            writeJpeg(to / photo.file, large, exif, 90);
            break;
        }
        case Kind::greyscale: {
            cv::Mat grey;
            cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
            writeJpeg(to / photo.file, grey, exif);
            break;
        }
        case Kind::png16:
        case Kind::tiff16: {
            cv::Mat deep;
            image.convertTo(deep, CV_16UC3, 257);
            photo.file = stem + (kind == Kind::png16 ? ".png" : ".tiff");
            writeImage(to / photo.file, deep,
                       kind == Kind::png16 ? std::vector<int>{cv::IMWRITE_PNG_COMPRESSION, 1}
                                           : std::vector<int>{});
            break;
        }
        case Kind::pngAlpha: {
            cv::Mat alpha = cv::Mat::zeros(image.size(), CV_8UC1);
            cv::ellipse(alpha, {image.cols / 2, image.rows / 2},
                        {image.cols * 11 / 20, image.rows * 11 / 20}, 0, 0, 360, 255, -1);
            std::vector<cv::Mat> channels;
            cv::split(image, channels);
            channels.push_back(alpha);
            cv::Mat withAlpha;
            cv::merge(channels, withAlpha);
            photo.file = stem + ".png";
            writeImage(to / photo.file, withAlpha, {cv::IMWRITE_PNG_COMPRESSION, 1});
            break;
        }
        case Kind::twoLenses: {
            if (turn % 2 == 0) {
                writeJpeg(to / photo.file, image, exif);
                break;
            }
            // A longer lens: the middle 70% of the frame, at another size.
            const cv::Size crop(int(image.cols * 0.7), int(image.rows * 0.7));
            photo.region = cv::Rect((image.cols - crop.width) / 2, (image.rows - crop.height) / 2,
                                    crop.width, crop.height);
            exif.focalLength35mm = croppedFocal(exif.focalLength35mm, image.size(), crop);
            exif.model += " telephoto";
            cv::Mat resized;
            cv::resize(image(photo.region), resized, {image.cols * 4 / 5, image.rows * 4 / 5}, 0, 0,
                       cv::INTER_AREA);
            writeJpeg(to / photo.file, resized, exif);
            break;
        }
        default:
            throw std::logic_error("not a kind that changes photos");
    }
    return photo;
}

// The files an added kind puts beside the changed photos.
void addBeside(Kind kind, const std::vector<Source>& sources, std::vector<AwkwardPhoto>& made,
               const fs::path& to) {
    const std::size_t changed = made.size();
    switch (kind) {
        case Kind::duplicates:
            for (std::size_t i = 0; i < changed; i += 6) {
                const fs::path file = made[i].file;
                AwkwardPhoto copy = made[i];
                copy.file = file.stem().string() + " copy" + file.extension().string();
                copy.kind = kind;
                copy.mustRegister = false;
                fs::copy_file(to / file, to / copy.file, fs::copy_options::overwrite_existing);
                made.push_back(copy);
            }
            break;
        case Kind::motionBlur:
            for (std::size_t i = 3; i < sources.size(); i += 6) {
                // A hand that moved: 25 pixels along a slant.
                const int length = std::max(5, sources[i].image.cols / 50) | 1;
                cv::Mat kernel = cv::Mat::zeros(length, length, CV_32F);
                cv::line(kernel, {0, length / 3}, {length - 1, length * 2 / 3}, 1.0);
                kernel /= cv::sum(kernel)[0];
                cv::Mat blurred;
                cv::filter2D(sources[i].image, blurred, -1, kernel);
                AwkwardPhoto photo{sources[i].file.stem().string() + " blurred.jpg", kind,
                                   sources[i].file, cv::Rect({}, blurred.size()), false};
                writeJpeg(to / photo.file, blurred, sources[i].exif);
                made.push_back(photo);
            }
            break;
        case Kind::otherObject:
            for (int i = 0; i < 3; ++i) {
                AwkwardPhoto photo{"other_" + std::to_string(i + 1) + ".jpg", kind, {}, {}, false};
                writeImage(to / photo.file, otherScene(sources[0].image.size(), 500 + i), {});
                made.push_back(photo);
            }
            break;
        case Kind::damaged: {
            std::vector<std::uint8_t> jpeg;
            cv::imencode(".jpg", sources[0].image, jpeg);
            jpeg.resize(jpeg.size() * 45 / 100);
            made.push_back({"truncated.jpg", kind, {}, {}, false});
            writeFile(to / made.back().file, Bytes(jpeg.begin(), jpeg.end()));
            made.push_back({"empty.jpg", kind, {}, {}, false});
            writeFile(to / made.back().file, std::string_view());
            break;
        }
        default:
            throw std::logic_error("not a kind that adds files");
    }
}

}  // namespace

const std::vector<AwkwardName>& awkwardNames() {
    static const std::vector<AwkwardName> names = {{Kind::plain, "plain"},
                                                   {Kind::turned3, "turned-3"},
                                                   {Kind::turned6, "turned-6"},
                                                   {Kind::turned8, "turned-8"},
                                                   {Kind::portraitOdd, "odd-sizes"},
                                                   {Kind::upscale12, "12mp"},
                                                   {Kind::upscale48, "48mp"},
                                                   {Kind::greyscale, "greyscale"},
                                                   {Kind::png16, "png-16"},
                                                   {Kind::tiff16, "tiff-16"},
                                                   {Kind::pngAlpha, "png-alpha"},
                                                   {Kind::duplicates, "duplicates"},
                                                   {Kind::motionBlur, "motion-blur"},
                                                   {Kind::otherObject, "other-object"},
                                                   {Kind::twoLenses, "two-lenses"},
                                                   {Kind::damaged, "damaged"}};
    return names;
}

std::optional<Awkwardness> awkwardnessNamed(std::string_view name) {
    for (const auto& entry : awkwardNames())
        if (entry.name == name) return entry.kind;
    return std::nullopt;
}

std::vector<AwkwardPhoto> makeAwkwardFolder(const fs::path& from, const fs::path& to,
                                            const std::vector<Awkwardness>& kinds) {
    fs::create_directories(to);
    std::vector<Source> sources;
    for (const auto& file : engine::PhotoFinder::photoURLs(from)) {
        Source source{file, cv::imread(file.string(), cv::IMREAD_COLOR), {}};
        const auto exif = engine::readExif(file);
        if (source.image.empty() || !exif)
            throw std::runtime_error(file.string() + " is no JPEG with Exif");
        source.exif = *exif;
        source.exif.orientation = 1;
        sources.push_back(std::move(source));
    }
    if (sources.empty()) throw std::runtime_error("no photos in " + from.string());

    std::vector<Kind> changing;
    for (Kind kind : kinds)
        if (changesPhotos(kind)) changing.push_back(kind);
    if (changing.empty()) changing.push_back(Kind::plain);
    std::vector<AwkwardPhoto> made;
    std::vector<int> turns(std::size_t(Kind::damaged) + 1, 0);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const Kind kind = changing[i % changing.size()];
        made.push_back(writeChanged(sources[i], kind, turns[std::size_t(kind)]++, to));
    }
    for (Kind kind : kinds)
        if (!changesPhotos(kind)) addBeside(kind, sources, made, to);
    return made;
}

}  // namespace pelorin::testing
