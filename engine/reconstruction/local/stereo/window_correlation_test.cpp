#include "engine/reconstruction/local/stereo/window_correlation.h"

#include <cmath>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

using namespace pelorin::engine::local;

namespace {

cv::Mat noise(cv::Size size, int seed) {
    cv::Mat image(size, CV_32F);
    cv::RNG(seed).fill(image, cv::RNG::UNIFORM, 0, 255);
    return image;
}

// The cost at one pixel straight from its definition, in double: means and deviations over
// the window mirrored at the image's edges, 2 if the window holds a pixel of the image that
// the warp marked outside the other photo, 1 (no correlation) if the other photo's window is
// flat, which its rounding must not turn into a match.
double costByDefinition(const cv::Mat& reference, const cv::Mat& warped, int window, int px,
                        int py) {
    const int half = window / 2;
    double r = 0, w = 0, rr = 0, ww = 0, rw = 0;
    bool outside = false;
    for (int dy = -half; dy <= half; ++dy) {
        for (int dx = -half; dx <= half; ++dx) {
            const int x = cv::borderInterpolate(px + dx, reference.cols, cv::BORDER_REFLECT_101);
            const int y = cv::borderInterpolate(py + dy, reference.rows, cv::BORDER_REFLECT_101);
            const double a = reference.at<float>(y, x), b = warped.at<float>(y, x);
            r += a, w += b, rr += a * a, ww += b * b, rw += a * b;
            const bool inImage = px + dx >= 0 && px + dx < reference.cols && py + dy >= 0 &&
                                 py + dy < reference.rows;
            if (inImage && b < 0) outside = true;
        }
    }
    if (outside) return 2;
    const double n = window * window;
    r /= n, w /= n, rr /= n, ww /= n, rw /= n;
    const double deviation = std::sqrt(std::max(ww - w * w, 0.0));
    if (deviation < 0.1) return 1;
    return 1 - (rw - r * w) / (std::sqrt(std::max(rr - r * r, 0.0)) * deviation + 1e-3);
}

// Another photo of the reference's size, unrelated to it.
auto otherNoise(int seed) {
    return [seed](const cv::Mat& reference) { return noise(reference.size(), seed); };
}

struct Case {
    const char* name;
    cv::Size size;
    int window;
    // The other photo as warped onto the reference.
    std::function<cv::Mat(const cv::Mat& reference)> warped;
    // What every pixel's cost must be, where the case fixes it.
    std::optional<double> everywhere = {};
    // How far the cost may lie from its definition's.
    double tolerance = 1e-3;
};

TEST(WindowCorrelationTest, EveryPixelsCostIsTheCorrelationOfItsWindow) {
    const Case cases[] = {
        {"the same photo", {37, 29}, 5, [](const cv::Mat& r) { return r.clone(); }, 0.0},
        {"the same photo, brighter and with more contrast",
         {37, 29},
         7,
         [](const cv::Mat& r) {
             cv::Mat w = r * 1.7 + 20;
             return w;
         },
         0.0},
        {"its negative",
         {37, 29},
         5,
         [](const cv::Mat& r) {
             cv::Mat w = 255 - r;
             return w;
         },
         2.0},
        {"an unrelated photo", {41, 23}, 7, otherNoise(2)},
        {"a flat photo",
         {20, 20},
         5,
         [](const cv::Mat& r) { return cv::Mat(r.size(), CV_32F, cv::Scalar(90.0)); },
         1.0},
        {"a photo flat but for one pixel a grey level off",
         {20, 20},
         5,
         [](const cv::Mat& r) {
             cv::Mat w(r.size(), CV_32F, cv::Scalar(90.0));
             w.at<float>(10, 10) = 91;
             return w;
         },
         {},
         // Its deviation and covariance are differences of nearly equal floats.
         5e-3},
        {"a photo partly outside",
         {40, 30},
         5,
         [](const cv::Mat& r) {
             cv::Mat w = r.clone();
             w(cv::Rect(0, 0, 12, 30)).setTo(-1);
             return w;
         }},
        {"a single pixel outside, the rows far from it wholly inside",
         {40, 30},
         5,
         [](const cv::Mat& r) {
             cv::Mat w = r.clone();
             w.at<float>(20, 30) = -1;
             return w;
         }},
        {"an image smaller than the window", {4, 3}, 7, otherNoise(3)},
        {"one row", {30, 1}, 5, otherNoise(4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const cv::Mat reference = noise(c.size, 1);
        const cv::Mat warped = c.warped(reference);
        cv::Mat cost;
        matchCost(reference, windowStats(reference, c.window), warped, c.window, cost);
        ASSERT_EQ(cost.size(), c.size);
        ASSERT_EQ(cost.type(), CV_32F);
        for (int y = 0; y < c.size.height; ++y) {
            for (int x = 0; x < c.size.width; ++x) {
                const double expected = costByDefinition(reference, warped, c.window, x, y);
                ASSERT_NEAR(cost.at<float>(y, x), expected, c.tolerance) << "at " << x << ", " << y;
                if (c.everywhere) {
                    ASSERT_NEAR(expected, *c.everywhere, 1e-3);
                }
            }
        }
    }
}

TEST(WindowCorrelationTest, ReusedBuffersDoNotCarryOneCallIntoTheNext) {
    const cv::Mat large = noise({60, 50}, 5), small = noise({21, 17}, 6);
    cv::Mat outsideEverywhere(large.size(), CV_32F, -1.0), cost;
    matchCost(large, windowStats(large, 5), outsideEverywhere, 5, cost);
    matchCost(small, windowStats(small, 5), small, 5, cost);
    ASSERT_EQ(cost.size(), small.size());
    double worst;
    cv::minMaxLoc(cv::abs(cost), nullptr, &worst);
    EXPECT_LT(worst, 1e-3);
}

}  // namespace
