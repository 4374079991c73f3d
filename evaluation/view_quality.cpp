#include "evaluation/view_quality.h"

#include <cmath>
#include <limits>

namespace pelorin::evaluation {

pelorin::Expected<ViewQuality, std::string> compareInMask(const Rendering& rendering,
                                                          const cv::Mat& photo,
                                                          const cv::Mat& mask) {
    const cv::Size size = photo.size();
    if (photo.type() != CV_8UC3 || rendering.colour.type() != CV_8UC3 ||
        rendering.coverage.type() != CV_8U || mask.type() != CV_8U) {
        return pelorin::unexpected(std::string("images of unexpected kinds"));
    }
    if (rendering.colour.size() != size || rendering.coverage.size() != size ||
        mask.size() != size) {
        return pelorin::unexpected(std::string("the rendering and the photo differ in size"));
    }
    double squares = 0;
    std::size_t pixels = 0, covered = 0;
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            if (!mask.at<std::uint8_t>(y, x)) continue;
            ++pixels;
            const bool drawn = rendering.coverage.at<std::uint8_t>(y, x) != 0;
            covered += drawn;
            const cv::Vec3b model = drawn ? rendering.colour.at<cv::Vec3b>(y, x) : cv::Vec3b();
            const cv::Vec3b truth = photo.at<cv::Vec3b>(y, x);
            for (int k = 0; k < 3; ++k) {
                const double d = double(model[k]) - truth[k];
                squares += d * d;
            }
        }
    }
    if (pixels == 0) return pelorin::unexpected(std::string("the object is not in view"));
    ViewQuality quality;
    quality.pixels = pixels;
    quality.coverage = double(covered) / pixels;
    const double meanSquare = squares / (3.0 * pixels);
    quality.psnr = meanSquare == 0 ? std::numeric_limits<double>::infinity()
                                   : 10 * std::log10(255.0 * 255.0 / meanSquare);
    return quality;
}

pelorin::Expected<ViewQuality, std::string> judgeView(const engine::TexturedMesh& model,
                                                      const Similarity& toTruth, const Mesh& truth,
                                                      const PinholeCamera& camera,
                                                      const cv::Mat& photo) {
    if (photo.cols != camera.width() || photo.rows != camera.height())
        return pelorin::unexpected(std::string("the camera is not sized to the photo"));
    auto rendering = renderTextured(model, toTruth, camera);
    if (!rendering) return pelorin::unexpected(rendering.error());
    return compareInMask(*rendering, photo, renderSilhouette(truth, camera));
}

}  // namespace pelorin::evaluation
