#include "engine/reconstruction/local/undistort_step.h"

#include <iomanip>
#include <map>
#include <mutex>
#include <sstream>

#include <opencv2/imgcodecs.hpp>

#include "common/files/file_reader.h"
#include "engine/reconstruction/local/lens_undistortion.h"
#include "engine/reconstruction/local/parallel_for.h"
#include "engine/reconstruction/local/working_images.h"

namespace pelorin::engine::local {

namespace fs = std::filesystem;

namespace {

struct Lens {
    LensCamera distorted;
    PinholeCamera pinhole;
};

struct Photo {
    std::string name;
    const Lens* lens = nullptr;
};

[[noreturn]] void failModel(const std::string& reason) {
    StepContext::fail(
        PhotogrammetryError::other("the sparse model cannot be undistorted: " + reason));
}

std::string readText(const fs::path& file) {
    auto bytes = common::readFile(file, std::uint64_t(1) << 30);
    if (!bytes) failModel(file.filename().string() + " cannot be read");
    return std::string(bytes->text());
}

// images.txt with each observation moved to where it lies in the undistorted photo; the
// photos it names, with their lenses.
std::string undistortImageList(const std::string& text, const std::map<int, Lens>& lenses,
                               std::vector<Photo>& photos) {
    std::istringstream in(text);
    std::ostringstream out;
    out << std::setprecision(10);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '#') continue;
        lines.push_back(std::move(line));
    }
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        if (lines[i].empty()) break;  // only blank lines follow the records
        std::istringstream pose(lines[i]);
        int id = 0, cameraId = 0;
        double value;
        pose >> id;
        for (int k = 0; k < 7; ++k) pose >> value;
        pose >> cameraId;
        Photo photo;
        std::getline(pose >> std::ws, photo.name);
        const auto lens = lenses.find(cameraId);
        if (!pose.eof() && !pose) failModel("an image line cannot be read");
        if (lens == lenses.end() || photo.name.empty()) failModel("an image names no camera");
        photo.lens = &lens->second;
        out << lines[i] << '\n';
        std::istringstream observations(i + 1 < lines.size() ? lines[i + 1] : std::string());
        double u, v;
        long long point;
        const char* separator = "";
        while (observations >> u >> v >> point) {
            const auto [x, y] = undistortedPixel(photo.lens->distorted, photo.lens->pinhole, u, v);
            out << separator << x << ' ' << y << ' ' << point;
            separator = " ";
        }
        out << '\n';
        photos.push_back(std::move(photo));
    }
    return out.str();
}

std::string pinholeList(const std::map<int, Lens>& lenses) {
    std::ostringstream out;
    out << std::setprecision(17);
    for (const auto& [id, lens] : lenses) {
        const PinholeCamera& c = lens.pinhole;
        out << id << " PINHOLE " << c.width << ' ' << c.height << ' ' << c.fx << ' ' << c.fy << ' '
            << c.cx << ' ' << c.cy << '\n';
    }
    return out.str();
}

void undistortPhotos(const StepContext& context, const std::vector<Photo>& photos,
                     const UndistortOptions& options) {
    std::mutex lock;
    std::size_t finished = 0;
    OpenCvThreadsPerWorker oneThreadEach;
    parallelFor(
        "undistortion", photos.size(), context.threads(),
        [&](std::size_t item, unsigned) {
            const Photo& photo = photos[item];
            const cv::Mat image =
                cv::imread((context / "images" / photo.name).string(), cv::IMREAD_COLOR);
            const PinholeCamera& lens = photo.lens->distorted.pinhole;
            if (image.cols != lens.width || image.rows != lens.height)
                StepContext::fail(PhotogrammetryError::other(
                    "a working photo is missing or resized: " + photo.name));
            const cv::Mat undistorted =
                undistortImage(image, photo.lens->distorted, photo.lens->pinhole);
            const fs::path file = context / "dense" / "images" / photo.name;
            std::error_code ignored;
            fs::create_directories(file.parent_path(), ignored);
            if (!writeImage(file, undistorted, {cv::IMWRITE_JPEG_QUALITY, options.jpegQuality}))
                context.failWriting("an undistorted photo cannot be written: " + photo.name);
            std::lock_guard guard(lock);
            context.progress(Step::undistortion, double(++finished) / photos.size());
        },
        context.stop());
    context.checkStop();
}

}  // namespace

SparseModel runUndistortStep(const StepContext& context, const std::string& modelName,
                             const UndistortOptions& options) {
    const fs::path model = context / "dense" / "sparse_text";
    if (!context.done(Step::undistortion)) {
        context.progress(Step::undistortion, 0);
        std::error_code ignored;
        fs::remove_all(context / "dense", ignored);
        fs::create_directories(model, ignored);
        const fs::path source = context / "sparse_text" / modelName;
        auto cameras = readLensCameras(source);
        if (!cameras) failModel(cameras.error());
        std::map<int, Lens> lenses;
        for (const auto& camera : *cameras) lenses[camera.id] = {camera, undistortedCamera(camera)};
        std::vector<Photo> photos;
        const std::string images =
            undistortImageList(readText(source / "images.txt"), lenses, photos);
        const std::string points = readText(source / "points3D.txt");
        undistortPhotos(context, photos, options);
        context.write("dense/sparse_text/cameras.txt", pinholeList(lenses));
        context.write("dense/sparse_text/images.txt", images);
        context.write("dense/sparse_text/points3D.txt", points);
        context.finish(Step::undistortion);
    }
    auto loaded = loadSparseModel(model);
    if (!loaded) StepContext::fail(PhotogrammetryError::other(loaded.error()));
    return std::move(loaded.value());
}

}  // namespace pelorin::engine::local
