// Finding every photo's features two ways in the same run, on the same JPEGs and cores:
//  - before: COLMAP's `feature_extractor` as the pipeline ran it (CPU, no doubled octave, at
//    most 4000 features), its database then read back for the count;
//  - after: `findFeatures` on each photo, decoding included, the photos spread over the cores.
// Prints each time, the features a photo and the ratio of the two times.
//
//   feature_extraction_bench <photo-folder> [threads]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "engine/reconstruction/local/colmap/colmap_database.h"
#include "engine/reconstruction/local/colmap/feature_extraction.h"
#include "engine/reconstruction/local/parallel_for.h"

using namespace pelorin::engine::local;
namespace fs = std::filesystem;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: feature_extraction_bench <photo-folder> [threads]\n");
        return 2;
    }
    const fs::path photos = argv[1];
    const unsigned threads = argc > 2 ? unsigned(std::atoi(argv[2])) : 2;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(photos))
        if (entry.path().extension() == ".jpg" || entry.path().extension() == ".JPG")
            files.push_back(entry.path());
    if (files.empty()) {
        std::fprintf(stderr, "no JPEG photos in %s\n", photos.c_str());
        return 1;
    }

    const fs::path work = fs::temp_directory_path() / ("feature_bench_" + std::to_string(getpid()));
    fs::create_directories(work);
    const std::string database = (work / "database.db").string();
    const std::string command =
        "colmap feature_extractor --database_path '" + database + "' --image_path '" +
        photos.string() +
        "' --ImageReader.camera_model SIMPLE_RADIAL --ImageReader.single_camera 1 "
        "--SiftExtraction.use_gpu 0 --SiftExtraction.first_octave 0 "
        "--SiftExtraction.max_num_features 4000 --SiftExtraction.num_threads " +
        std::to_string(threads) + " > /dev/null 2>&1";
    auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double before = secondsSince(start);
    const auto theirs = readFeatures(database);
    std::error_code ignored;
    fs::remove_all(work, ignored);
    if (status != 0 || !theirs) {
        std::fprintf(stderr, "COLMAP's extractor failed\n");
        return 1;
    }
    std::size_t theirCount = 0;
    for (const auto& photo : *theirs) theirCount += photo.points.size();

    std::vector<std::size_t> counts(files.size());
    start = std::chrono::steady_clock::now();
    {
        const OpenCvThreadsPerWorker serial;
        parallelFor("features", files.size(), threads, [&](std::size_t i, unsigned) {
            const cv::Mat grey = cv::imread(files[i].string(), cv::IMREAD_GRAYSCALE);
            counts[i] = findFeatures(grey, {}, {}).points.size();
        });
    }
    const double after = secondsSince(start);
    std::size_t ourCount = 0;
    for (const std::size_t count : counts) ourCount += count;

    std::printf("%zu photos, %u threads\n", files.size(), threads);
    std::printf("COLMAP's extractor: %.2f s, %.0f features a photo\n", before,
                double(theirCount) / double(theirs->size()));
    std::printf("ours:               %.2f s, %.0f features a photo\n", after,
                double(ourCount) / double(files.size()));
    std::printf("ratio: %.3f\n", after / before);
    return 0;
}
