#include "engine/reconstruction/local/stereo/window_correlation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

namespace pelorin::engine::local {

namespace {

// The mean over each pixel's window: OpenCV's separable filter with a flat kernel took a
// quarter of the time of its box filter on floats.
void windowMean(const cv::Mat& image, cv::Mat& mean, int window) {
    const cv::Mat kernel(1, window, CV_32F, cv::Scalar(1.0 / window));
    cv::sepFilter2D(image, mean, CV_32F, kernel, kernel);
}

// What the warped photo contributes to a window, summed along one axis: its values, their
// squares, their products with the reference, and how many pixels lie outside its photo.
enum Quantity { value, square, product, outside, quantities };

// Kept per thread, so that the sweep's many calls allocate nothing.
struct Scratch {
    std::vector<float> padded;       // one row of each quantity, mirrored past its ends
    std::vector<float> across;       // each quantity summed along rows, a ring of rows each
    std::vector<float> sums;         // one row of each quantity summed over whole windows
    std::vector<const float*> runs;  // what one sum adds up
    std::vector<int> held;           // the row whose sums along it each slot of the ring holds
    std::vector<bool> outside;       // whether that row has pixels outside the other photo
};

thread_local Scratch scratch;

// A window whose deviation is below this is flat, whatever the rounding of its sums leaves:
// one pixel a grey level off the rest of a 5 x 5 window already deviates by 0.2.
constexpr float flat = 0.1f;

// out[x] = the sum over `count` runs of floats of their x-th, in OpenCV's portable vectors:
// the build targets any x86-64, where the compiler does not vectorise this by itself, and
// each sum stays in a register until it is whole.
void sumRuns(const float* const* runs, int count, int length, float* out) {
    int x = 0;
#if CV_SIMD
    for (; x + cv::v_float32::nlanes <= length; x += cv::v_float32::nlanes) {
        auto sum = cv::vx_load(runs[0] + x);
        for (int i = 1; i < count; ++i) sum += cv::vx_load(runs[i] + x);
        cv::v_store(out + x, sum);
    }
#endif
    for (; x < length; ++x) {
        float sum = runs[0][x];
        for (int i = 1; i < count; ++i) sum += runs[i][x];
        out[x] = sum;
    }
}

struct WindowSums {
    const float* value;
    const float* square;
    const float* product;
    const float* outside;
};

// One row of costs from its windows' sums and the reference's statistics.
void costRow(const WindowSums& sums, const float* referenceMean, const float* referenceDeviation,
             float area, int count, float* out) {
    int x = 0;
#if CV_SIMD
    const auto vArea = cv::vx_setall_f32(area), zero = cv::vx_setzero_f32(),
               one = cv::vx_setall_f32(1), two = cv::vx_setall_f32(2),
               vFlat = cv::vx_setall_f32(flat), epsilon = cv::vx_setall_f32(1e-3f);
    for (; x + cv::v_float32::nlanes <= count; x += cv::v_float32::nlanes) {
        const auto mean = cv::vx_load(sums.value + x) * vArea;
        const auto deviation =
            cv::v_sqrt(cv::v_max(cv::vx_load(sums.square + x) * vArea - mean * mean, zero));
        const auto covariance =
            cv::vx_load(sums.product + x) * vArea - cv::vx_load(referenceMean + x) * mean;
        const auto correlation =
            cv::v_select(deviation < vFlat, zero,
                         covariance / (cv::vx_load(referenceDeviation + x) * deviation + epsilon));
        cv::v_store(out + x,
                    cv::v_select(cv::vx_load(sums.outside + x) > zero, two, one - correlation));
    }
#endif
    for (; x < count; ++x) {
        const float mean = sums.value[x] * area;
        const float deviation = std::sqrt(std::max(sums.square[x] * area - mean * mean, 0.0f));
        const float covariance = sums.product[x] * area - referenceMean[x] * mean;
        const float correlation =
            deviation < flat ? 0.0f : covariance / (referenceDeviation[x] * deviation + 1e-3f);
        out[x] = sums.outside[x] > 0 ? 2.0f : 1.0f - correlation;
    }
}

}  // namespace

WindowStats windowStats(const cv::Mat& image, int window) {
    WindowStats stats;
    cv::Mat square;
    windowMean(image, stats.mean, window);
    windowMean(image.mul(image), square, window);
    cv::Mat variance = square - stats.mean.mul(stats.mean);
    cv::max(variance, 0, variance);
    cv::sqrt(variance, stats.deviation);
    return stats;
}

void matchCost(const cv::Mat& reference, const WindowStats& stats, const cv::Mat& warped,
               int window, cv::Mat& cost) {
    CV_Assert(reference.type() == CV_32F && warped.type() == CV_32F &&
              reference.size() == warped.size());
    const int rows = warped.rows, cols = warped.cols, half = window / 2;
    const int paddedCols = cols + 2 * half;
    // The sums along rows are kept for the last `window` rows only, so that what the sums down
    // the columns read is still in the cache: a whole plane of them was not.
    const std::size_t ring = std::size_t(window) * cols;
    Scratch& s = scratch;
    s.padded.resize(quantities * std::size_t(paddedCols));
    s.across.resize(quantities * ring);
    s.sums.resize(quantities * std::size_t(cols));
    s.runs.resize(std::size_t(window));
    s.held.assign(std::size_t(window), -1);
    s.outside.assign(std::size_t(window), false);
    float* padded[quantities];
    float* across[quantities];
    float* sums[quantities];
    const float** runs = s.runs.data();
    for (int q = 0; q < quantities; ++q) {
        padded[q] = s.padded.data() + q * std::size_t(paddedCols);
        across[q] = s.across.data() + q * ring;
        sums[q] = s.sums.data() + q * std::size_t(cols);
    }
    auto acrossRow = [&](int q, int row) { return across[q] + std::size_t(row % window) * cols; };

    // Along one row. The sums mirror the row at its ends, as the reference's statistics do;
    // pixels past the ends are not outside the other photo.
    auto sumAlong = [&](int y) {
        const float* w = warped.ptr<float>(y);
        const float* r = reference.ptr<float>(y);
        auto put = [&](int at, int from, bool inside) {
            const float v = w[from];
            padded[value][at] = v;
            padded[square][at] = v * v;
            padded[product][at] = r[from] * v;
            padded[outside][at] = inside && v < 0 ? 1.0f : 0.0f;
        };
        int x = 0;
        bool anyOutside = false;
#if CV_SIMD
        const auto zero = cv::vx_setzero_f32(), one = cv::vx_setall_f32(1);
        auto seen = zero;
        for (; x + cv::v_float32::nlanes <= cols; x += cv::v_float32::nlanes) {
            const auto v = cv::vx_load(w + x);
            cv::v_store(padded[value] + half + x, v);
            cv::v_store(padded[square] + half + x, v * v);
            cv::v_store(padded[product] + half + x, cv::vx_load(r + x) * v);
            const auto out = cv::v_select(v < zero, one, zero);
            cv::v_store(padded[outside] + half + x, out);
            seen = cv::v_max(seen, out);
        }
        anyOutside = cv::v_reduce_max(seen) > 0;
#endif
        for (; x < cols; ++x) {
            put(x + half, x, true);
            anyOutside = anyOutside || w[x] < 0;
        }
        for (int i = 1; i <= half; ++i) {
            put(half - i, cv::borderInterpolate(-i, cols, cv::BORDER_REFLECT_101), false);
            put(half + cols - 1 + i,
                cv::borderInterpolate(cols - 1 + i, cols, cv::BORDER_REFLECT_101), false);
        }
        // Most rows lie wholly inside the other photo; theirs would be sums of zeros.
        for (int q = 0; q < (anyOutside ? quantities : outside); ++q) {
            for (int k = 0; k < window; ++k) runs[k] = padded[q] + k;
            sumRuns(runs, window, cols, acrossRow(q, y));
        }
        s.held[std::size_t(y % window)] = y;
        s.outside[std::size_t(y % window)] = anyOutside;
    };

    // Down each column, then the correlation. A window mirrored at the top or bottom reads
    // only rows within `half` of its own, so the ring holds all it needs.
    cost.create(rows, cols, CV_32F);
    const float area = 1.0f / float(window * window);
    for (int y = 0; y < rows; ++y) {
        const int first = std::max(0, y - half), last = std::min(rows - 1, y + half);
        for (int row = first; row <= last; ++row)
            if (s.held[std::size_t(row % window)] != row) sumAlong(row);
        for (int q = value; q < outside; ++q) {
            for (int k = -half; k <= half; ++k)
                runs[k + half] =
                    acrossRow(q, cv::borderInterpolate(y + k, rows, cv::BORDER_REFLECT_101));
            sumRuns(runs, window, cols, sums[q]);
        }
        int count = 0;
        for (int row = first; row <= last; ++row)
            if (s.outside[std::size_t(row % window)]) runs[count++] = acrossRow(outside, row);
        if (count > 0)
            sumRuns(runs, count, cols, sums[outside]);
        else
            std::fill(sums[outside], sums[outside] + cols, 0.0f);
        costRow({sums[value], sums[square], sums[product], sums[outside]}, stats.mean.ptr<float>(y),
                stats.deviation.ptr<float>(y), area, cols, cost.ptr<float>(y));
    }
}

}  // namespace pelorin::engine::local
