#include "evaluation/view_quality.h"

#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

namespace pelorin::evaluation {

namespace {

// The structural similarity of two 8-bit colour images, pixel by pixel, averaged over the
// channels (Wang et al. 2004, with their constants).
cv::Mat ssimMap(const cv::Mat& a8, const cv::Mat& b8) {
    const cv::Scalar c1 = cv::Scalar::all(6.5025), c2 = cv::Scalar::all(58.5225);
    const auto blur = [](const cv::Mat& m) {
        cv::Mat out;
        cv::GaussianBlur(m, out, {11, 11}, 1.5);
        return out;
    };
    std::vector<cv::Mat> as, bs;
    cv::split(a8, as);
    cv::split(b8, bs);
    cv::Mat sum = cv::Mat::zeros(a8.size(), CV_32F);
    for (std::size_t k = 0; k < as.size(); ++k) {
        cv::Mat a, b;
        as[k].convertTo(a, CV_32F);
        bs[k].convertTo(b, CV_32F);
        const cv::Mat ma = blur(a), mb = blur(b);
        const cv::Mat maa = ma.mul(ma), mbb = mb.mul(mb), mab = ma.mul(mb);
        const cv::Mat saa = blur(a.mul(a)) - maa, sbb = blur(b.mul(b)) - mbb;
        const cv::Mat sab = blur(a.mul(b)) - mab;
        const cv::Mat numerator = (2 * mab + c1).mul(2 * sab + c2);
        const cv::Mat denominator = (maa + mbb + c1).mul(saa + sbb + c2);
        cv::Mat map;
        cv::divide(numerator, denominator, map);
        sum += map;
    }
    return sum / double(as.size());
}

}  // namespace

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
    quality.frameShare = double(pixels) / (double(size.width) * size.height);
    // Uncovered pixels are black in the rendering already, as they count for the PSNR.
    quality.ssim = cv::mean(ssimMap(rendering.colour, photo), mask)[0];
    quality.coverage = double(covered) / pixels;
    const double meanSquare = squares / (3.0 * pixels);
    quality.psnr = meanSquare == 0 ? std::numeric_limits<double>::infinity()
                                   : 10 * std::log10(255.0 * 255.0 / meanSquare);
    return quality;
}

pelorin::Expected<ViewQuality, std::string> judgeView(const engine::TexturedMesh& model,
                                                      const Similarity& toTruth, const Mesh& truth,
                                                      const PinholeCamera& camera,
                                                      const cv::Mat& photo, Rendering* rendered) {
    if (photo.cols != camera.width() || photo.rows != camera.height())
        return pelorin::unexpected(std::string("the camera is not sized to the photo"));
    auto rendering = renderTextured(model, toTruth, camera);
    if (!rendering) return pelorin::unexpected(rendering.error());
    auto quality = compareInMask(*rendering, photo, renderSilhouette(truth, camera));
    if (rendered) *rendered = std::move(rendering).value();
    return quality;
}

pelorin::Expected<ViewQuality, std::string> judgeOwnView(const engine::TexturedMesh& model,
                                                         const PinholeCamera& camera,
                                                         const cv::Mat& photo,
                                                         Rendering* rendered) {
    if (photo.cols != camera.width() || photo.rows != camera.height())
        return pelorin::unexpected(std::string("the camera is not sized to the photo"));
    auto rendering = renderTextured(model, Similarity{}, camera);
    if (!rendering) return pelorin::unexpected(rendering.error());
    auto quality = compareInMask(*rendering, photo, rendering->coverage);
    if (!quality && cv::countNonZero(rendering->coverage) == 0)
        return pelorin::unexpected(std::string("the model is not in view"));
    if (rendered) *rendered = std::move(rendering).value();
    return quality;
}

}  // namespace pelorin::evaluation
