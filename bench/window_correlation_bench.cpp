// The stereo's matching cost of one neighbour at one depth, at the sizes a medium build's
// depth maps use (the coarse sweep's and the finer level's), two ways in the same run:
//  - before: a chain of whole-image OpenCV operations (three window means, products,
//    a division, a dilated mask of the pixels outside the other photo);
//  - after: `matchCost`, one pass along the rows and one down the columns.
// Also the largest difference between the two costs. Each figure is the best of rounds.
//
//   window_correlation_bench [rounds]
#include <cstdio>
#include <cstdlib>

#include <opencv2/imgproc.hpp>

#include "bench/best_of.h"
#include "engine/reconstruction/local/stereo/window_correlation.h"

using namespace pelorin::engine::local;
using pelorin::bench::bestSeconds;

namespace {

void windowMean(const cv::Mat& image, cv::Mat& mean, int window) {
    const cv::Mat kernel(1, window, CV_32F, cv::Scalar(1.0 / window));
    cv::sepFilter2D(image, mean, CV_32F, kernel, kernel);
}

void chainedCost(const cv::Mat& reference, const WindowStats& stats, const cv::Mat& warped,
                 int window, cv::Mat& cost) {
    cv::Mat valid, productMean, square, mean;
    cv::compare(warped, 0, valid, cv::CMP_LT);
    windowMean(warped, mean, window);
    windowMean(warped.mul(warped), square, window);
    cv::Mat variance = square - mean.mul(mean), deviation;
    cv::max(variance, 0, variance);
    cv::sqrt(variance, deviation);
    windowMean(reference.mul(warped), productMean, window);
    cv::Mat covariance = productMean - stats.mean.mul(mean);
    cv::Mat denominator = stats.deviation.mul(deviation) + 1e-3f;
    cv::divide(covariance, denominator, cost);
    cost = 1.0f - cost;
    cv::dilate(valid, valid, cv::getStructuringElement(cv::MORPH_RECT, {window, window}));
    cost.setTo(2.0f, valid);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    cv::setNumThreads(1);  // the depth step runs one view per core
    struct Size {
        const char* name;
        cv::Size size;
        int window;
        int calls;
    };
    for (const Size& s :
         {Size{"coarse sweep", {260, 300}, 5, 400}, Size{"finer level", {520, 600}, 7, 100}}) {
        cv::Mat reference(s.size, CV_32F), warped(s.size, CV_32F);
        cv::RNG(1).fill(reference, cv::RNG::UNIFORM, 0, 255);
        cv::GaussianBlur(reference, reference, {0, 0}, 1.5);
        cv::warpAffine(reference, warped, cv::Matx23d(1, 0.02, 1.3, 0, 1, 0.4), s.size,
                       cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(-1));
        const WindowStats stats = windowStats(reference, s.window);
        cv::Mat before, after;
        const double chained = bestSeconds(rounds, [&] {
            for (int i = 0; i < s.calls; ++i)
                chainedCost(reference, stats, warped, s.window, before);
        });
        const double fused = bestSeconds(rounds, [&] {
            for (int i = 0; i < s.calls; ++i) matchCost(reference, stats, warped, s.window, after);
        });
        double largest;
        cv::minMaxLoc(cv::abs(before - after), nullptr, &largest);
        std::printf(
            "%s %dx%d, window %d: chained %.3f ms, one pass %.3f ms, ratio %.2f, largest "
            "difference %.2g\n",
            s.name, s.size.width, s.size.height, s.window, 1e3 * chained / s.calls,
            1e3 * fused / s.calls, fused / chained, largest);
    }
}
