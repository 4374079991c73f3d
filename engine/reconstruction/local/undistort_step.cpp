#include "engine/reconstruction/local/undistort_step.h"

#include <iomanip>
#include <map>
#include <mutex>
#include <sstream>

#include <opencv2/imgcodecs.hpp>

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
    std::error_code ignored;
    fs::create_directories(context / "dense" / "images", ignored);
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
        std::vector<std::pair<std::string, int>> names;
        const auto images = movedObservations(
            source,
            [&](int cameraId, double x, double y) {
                // A photo of an unknown camera fails the step below.
                const auto lens = lenses.find(cameraId);
                if (lens == lenses.end()) return std::array<double, 2>{x, y};
                return undistortedPixel(lens->second.distorted, lens->second.pinhole, x, y);
            },
            names);
        if (!images) failModel(images.error());
        std::vector<Photo> photos;
        for (const auto& [name, cameraId] : names) {
            const auto lens = lenses.find(cameraId);
            if (lens == lenses.end()) failModel("an image names no camera: " + name);
            photos.push_back({name, &lens->second});
        }
        undistortPhotos(context, photos, options);
        context.write("dense/sparse_text/cameras.txt", pinholeList(lenses));
        context.write("dense/sparse_text/images.txt", *images);
        // The points stay where they are; only the cameras and observations change.
        if (!fs::is_regular_file(source / "points3D.txt")) failModel("points3D.txt is missing");
        std::error_code copied;
        fs::copy_file(source / "points3D.txt", model / "points3D.txt",
                      fs::copy_options::overwrite_existing, copied);
        if (copied) context.failWriting("the undistorted model's points cannot be written");
        context.finish(Step::undistortion);
    }
    auto loaded = loadSparseModel(model);
    if (!loaded) StepContext::fail(PhotogrammetryError::other(loaded.error()));
    return std::move(loaded.value());
}

}  // namespace pelorin::engine::local
