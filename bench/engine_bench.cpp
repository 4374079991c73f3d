// Two engine figures, each with a baseline measured in the same run:
//  - PhotoFinder::find on a generated tree of 3000 folders (goal: under 0.5 s), against a plain
//    recursive walk of the same tree;
//  - the object mask of one 12-megapixel photo on one core (goal: under 0.5 s), against decoding
//    that photo from JPEG.
// Each figure is the best of several rounds.
#include <algorithm>

#include "bench/best_of.h"
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/capture/object_mask.h"
#include "engine/photos/photo_finder.h"

namespace fs = std::filesystem;
using namespace pelorin::engine;

namespace {

using pelorin::bench::bestSeconds;

// 10 folders at depth 1, 100 at depth 2 and 2890 at depth 3: 3000 folders, with a few photos and
// other files scattered through them.
void makeTree(const fs::path& root) {
    int made = 0;
    for (int a = 0; a < 10; ++a) {
        for (int b = 0; b < 10; ++b) {
            for (int c = 0; c < 29; ++c) {
                if (a == 9 && c == 28) continue;
                const fs::path folder = root / ("d" + std::to_string(a)) /
                                        ("e" + std::to_string(b)) / ("f" + std::to_string(c));
                fs::create_directories(folder);
                ++made;
                std::ofstream(folder / "notes.txt") << "x";
                if (c % 7 == 0)
                    std::ofstream(folder / ("IMG_" + std::to_string(c) + ".jpg")) << "x";
            }
        }
    }
    std::printf("tree: %d folders at depth 3 under 110 above them\n", made);
}

}  // namespace

int main() {
    const fs::path root = fs::temp_directory_path() / "pelorin-finder-bench";
    fs::remove_all(root);
    makeTree(root);
    std::size_t walked = 0;
    const double walkSeconds = bestSeconds(5, [&] {
        walked = 0;
        for (auto it = fs::recursive_directory_iterator(root);
             it != fs::recursive_directory_iterator(); ++it) {
            walked += it->is_directory();
        }
    });
    const double findSeconds = bestSeconds(5, [&] { (void)PhotoFinder::find(root); });
    fs::remove_all(root);
    std::printf("PhotoFinder::find:           %.3f s (goal < 0.5 s)\n", findSeconds);
    std::printf("recursive walk (baseline):   %.3f s over %zu folders\n", walkSeconds, walked);
    std::printf("ratio find / walk: %.2f\n\n", findSeconds / walkSeconds);

    cv::setNumThreads(1);
    cv::RNG random(3);
    cv::Mat photo(3000, 4000, CV_8UC3);
    random.fill(photo, cv::RNG::UNIFORM, cv::Scalar(150, 110, 40), cv::Scalar(210, 160, 90));
    cv::Mat object(photo.size(), CV_8UC3);
    random.fill(object, cv::RNG::UNIFORM, cv::Scalar(20, 40, 140), cv::Scalar(90, 120, 230));
    cv::Mat silhouette(photo.size(), CV_8U, cv::Scalar(0));
    cv::ellipse(silhouette, cv::Point(2000, 1500), cv::Size(800, 1000), 0, 0, 360, cv::Scalar(255),
                cv::FILLED);
    object.copyTo(photo, silhouette);
    std::vector<std::uint8_t> jpeg;
    cv::imencode(".jpg", photo, jpeg);
    const double decodeSeconds =
        bestSeconds(3, [&] { (void)cv::imdecode(jpeg, cv::IMREAD_COLOR); });

    PixelBuffer image;
    image.width = photo.cols;
    image.height = photo.rows;
    image.channels = 3;
    image.bytesPerRow = static_cast<std::size_t>(photo.cols) * 3;
    image.data.assign(photo.data, photo.data + photo.total() * 3);
    bool masked = false;
    const double maskSeconds = bestSeconds(3, [&] {
        masked = makeObjectMask(*defaultObjectSegmenter(), image, std::nullopt).has_value();
    });
    std::printf("object mask, 4000 x 3000, one core: %.3f s (goal < 0.5 s)%s\n", maskSeconds,
                masked ? "" : "  NO MASK");
    std::printf("JPEG decode of it (baseline):       %.3f s\n", decodeSeconds);
    std::printf("ratio mask / decode: %.2f\n", maskSeconds / decodeSeconds);
    return 0;
}
