#include "engine/reconstruction/local/texture/exposure_levelling.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace pelorin::engine::local {

namespace {

struct Sample {
    std::uint32_t face;
    std::uint32_t view;
    cv::Vec3d logColour;
};

// The log colour of each face's centre in each photo that sees it well.
std::vector<Sample> sampleFaces(const SurfaceMesh& mesh, const std::vector<TextureView>& views,
                                const std::vector<std::vector<float>>& scores,
                                const ExposureOptions& options) {
    const std::size_t faceCount = mesh.triangles.size();
    std::vector<float> best(faceCount, 0);
    for (const auto& view : scores)
        for (std::size_t f = 0; f < faceCount; ++f) best[f] = std::max(best[f], view[f]);
    std::vector<Sample> samples;
    const double reduction = std::max(1, options.sampleReduction);
    for (std::size_t v = 0; v < views.size(); ++v) {
        const cv::Mat& image = views[v].image;
        if (image.empty() || image.type() != CV_8UC3) continue;
        cv::Mat small;
        cv::resize(
            image, small,
            {std::max(1, int(image.cols / reduction)), std::max(1, int(image.rows / reduction))}, 0,
            0, cv::INTER_AREA);
        const double sx = double(small.cols) / views[v].view.camera.width;
        const double sy = double(small.rows) / views[v].view.camera.height;
        for (std::size_t f = 0; f < faceCount; ++f) {
            if (scores[v][f] <= 0 || scores[v][f] < options.leastShareOfBest * best[f]) continue;
            const auto& t = mesh.triangles[f];
            const Vec3 centre =
                (1.0 / 3) * (mesh.vertices[t[0]] + mesh.vertices[t[1]] + mesh.vertices[t[2]]);
            const Vec3 p = views[v].view.project(centre);
            if (p[2] <= 0) continue;
            const int x = int(p[0] * sx), y = int(p[1] * sy);
            if (x < 0 || y < 0 || x >= small.cols || y >= small.rows) continue;
            const cv::Vec3b c = small.at<cv::Vec3b>(y, x);
            bool usable = true;
            for (int k = 0; k < 3; ++k)
                usable &= c[k] >= options.darkest && c[k] <= options.brightest;
            if (!usable) continue;
            samples.push_back(
                {std::uint32_t(f),
                 std::uint32_t(v),
                 {std::log(double(c[0])), std::log(double(c[1])), std::log(double(c[2]))}});
        }
    }
    return samples;
}

}  // namespace

std::vector<cv::Vec3d> exposureGains(const SurfaceMesh& mesh, const std::vector<TextureView>& views,
                                     const std::vector<std::vector<float>>& scores,
                                     const ExposureOptions& options) {
    std::vector<cv::Vec3d> gains(views.size(), cv::Vec3d(1, 1, 1));
    std::vector<Sample> samples = sampleFaces(mesh, views, scores, options);
    // Only faces seen by two photos or more say anything about their difference.
    std::vector<int> viewsOfFace(mesh.triangles.size(), 0);
    for (const auto& s : samples) ++viewsOfFace[s.face];
    std::erase_if(samples, [&](const Sample& s) { return viewsOfFace[s.face] < 2; });
    if (samples.empty()) return gains;

    // Alternately the faces' levelled colours and the photos' log gains, least squares with
    // each gain pulled towards 1 (Gauss-Seidel on the normal equations).
    std::vector<cv::Vec3d> logGain(views.size(), cv::Vec3d(0, 0, 0));
    std::vector<cv::Vec3d> faceColour(mesh.triangles.size());
    std::vector<bool> kept(samples.size(), true);
    for (int round = 0; round < 30; ++round) {
        std::vector<cv::Vec3d> sum(mesh.triangles.size(), cv::Vec3d(0, 0, 0));
        std::vector<int> count(mesh.triangles.size(), 0);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (!kept[i]) continue;
            sum[samples[i].face] += samples[i].logColour + logGain[samples[i].view];
            ++count[samples[i].face];
        }
        for (std::size_t f = 0; f < sum.size(); ++f)
            if (count[f]) faceColour[f] = sum[f] / count[f];
        std::vector<cv::Vec3d> pull(views.size(), cv::Vec3d(0, 0, 0));
        std::vector<int> used(views.size(), 0);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (!kept[i] || count[samples[i].face] < 2) continue;
            pull[samples[i].view] += faceColour[samples[i].face] - samples[i].logColour;
            ++used[samples[i].view];
        }
        for (std::size_t v = 0; v < views.size(); ++v)
            logGain[v] = used[v] ? pull[v] / (used[v] * (1 + options.regularisation)) : cv::Vec3d();
        if (round == 9) {
            for (std::size_t i = 0; i < samples.size(); ++i) {
                const cv::Vec3d off =
                    samples[i].logColour + logGain[samples[i].view] - faceColour[samples[i].face];
                kept[i] = std::max({std::abs(off[0]), std::abs(off[1]), std::abs(off[2])}) <=
                          options.outlier;
            }
        }
    }
    // The mean log gain of the photos that took part is 0: the capture keeps its brightness.
    cv::Vec3d mean(0, 0, 0);
    int taking = 0;
    for (std::size_t v = 0; v < views.size(); ++v) {
        if (logGain[v] == cv::Vec3d()) continue;
        mean += logGain[v];
        ++taking;
    }
    if (taking) mean /= taking;
    const double most = std::log(options.mostGain);
    for (std::size_t v = 0; v < views.size(); ++v) {
        if (logGain[v] == cv::Vec3d()) continue;
        for (int k = 0; k < 3; ++k)
            gains[v][k] = std::exp(std::clamp(logGain[v][k] - mean[k], -most, most));
    }
    return gains;
}

void applyGains(std::vector<TextureView>& views, const std::vector<cv::Vec3d>& gains) {
    for (std::size_t v = 0; v < views.size() && v < gains.size(); ++v) {
        if (gains[v] == cv::Vec3d(1, 1, 1) || views[v].image.empty()) continue;
        cv::multiply(views[v].image, cv::Scalar(gains[v][0], gains[v][1], gains[v][2]),
                     views[v].image);
    }
}

}  // namespace pelorin::engine::local
