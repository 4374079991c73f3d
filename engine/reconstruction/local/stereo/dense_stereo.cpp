#include "engine/reconstruction/local/stereo/dense_stereo.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/reconstruction/local/stereo/window_correlation.h"

namespace pelorin::engine::local {

namespace {

cv::Matx33d intrinsics(const PinholeCamera& c) {
    // The warp works with pixel centres at whole numbers.
    return {c.fx, 0, c.cx - 0.5, 0, c.fy, c.cy - 0.5, 0, 0, 1};
}

cv::Matx33d toMatx(const Mat3& m) {
    return {m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]};
}

// A neighbour's pixel for reference pixel p at inverse depth w is the projection of
// A p + w b, so the fronto-parallel plane at w maps by the homography A + w b (0, 0, 1).
struct Ray {
    cv::Matx33d a;
    cv::Vec3d b;
    cv::Matx33d plane(double inverse) const { return a + b * cv::Matx13d(0, 0, inverse); }
};

// One level of the pyramid: the images at one size, with what every cost needs.
struct Level {
    StereoView reference;
    std::vector<StereoView> neighbours;
    WindowStats stats;
    std::vector<Ray> rays;  // one per neighbour
};

Level makeLevel(StereoView reference, std::vector<StereoView> neighbours, int window) {
    Level level{std::move(reference), std::move(neighbours), {}, {}};
    level.stats = windowStats(level.reference.grey, window);
    const auto& r = level.reference.view;
    for (const auto& n : level.neighbours) {
        // x_n = R x_r + t in the neighbour's camera.
        const cv::Matx33d rotation = toMatx(n.view.rotation) * toMatx(r.rotation).t();
        const Vec3 offset = n.view.rotation * (r.centre - n.view.centre);
        level.rays.push_back(
            {intrinsics(n.view.camera) * rotation * intrinsics(r.camera).inv(),
             intrinsics(n.view.camera) * cv::Vec3d(offset[0], offset[1], offset[2])});
    }
    return level;
}

// Half the size, the cameras with it.
StereoView halved(const StereoView& view) {
    StereoView small;
    const cv::Size size((view.grey.cols + 1) / 2, (view.grey.rows + 1) / 2);
    cv::resize(view.grey, small.grey, size, 0, 0, cv::INTER_AREA);
    if (!view.mask.empty()) cv::resize(view.mask, small.mask, size, 0, 0, cv::INTER_NEAREST);
    small.view = viewAtSize(view.view, size);
    return small;
}

// The mean of the best `counted` neighbours' costs, so that a part hidden from one
// neighbour can still be found in the others.
void combineBest(const std::vector<cv::Mat>& costs, int counted, cv::Mat& combined) {
    const cv::Size size = costs[0].size();
    combined.create(size, CV_32F);
    if (costs.size() == 1) {
        costs[0].copyTo(combined);
    } else if (counted == 2) {
        // The usual case, run for every pixel and hypothesis: the two smallest, added smaller
        // first as the general sort below would. Sorting every pixel's costs took longer than
        // the rest of the sweep with four neighbours.
        // In OpenCV's portable vectors, the rest of the row one pixel at a time.
        std::vector<const float*> rows(costs.size());
        for (int y = 0; y < size.height; ++y) {
            float* out = combined.ptr<float>(y);
            for (std::size_t n = 0; n < costs.size(); ++n) rows[n] = costs[n].ptr<float>(y);
            int x = 0;
#if CV_SIMD
            const auto half = cv::vx_setall_f32(0.5f);
            for (; x + cv::v_float32::nlanes <= size.width; x += cv::v_float32::nlanes) {
                const auto a = cv::vx_load(rows[0] + x), b = cv::vx_load(rows[1] + x);
                auto least = cv::v_min(a, b), next = cv::v_max(a, b);
                for (std::size_t n = 2; n < rows.size(); ++n) {
                    const auto c = cv::vx_load(rows[n] + x);
                    next = cv::v_min(next, cv::v_max(least, c));
                    least = cv::v_min(least, c);
                }
                cv::v_store(out + x, (least + next) * half);
            }
#endif
            for (; x < size.width; ++x) {
                float least = std::min(rows[0][x], rows[1][x]);
                float next = std::max(rows[0][x], rows[1][x]);
                for (std::size_t n = 2; n < rows.size(); ++n) {
                    next = std::min(next, std::max(least, rows[n][x]));
                    least = std::min(least, rows[n][x]);
                }
                out[x] = (least + next) / 2;
            }
        }
    } else {
        std::vector<float> values(costs.size());
        for (int y = 0; y < size.height; ++y) {
            float* out = combined.ptr<float>(y);
            for (int x = 0; x < size.width; ++x) {
                for (std::size_t n = 0; n < costs.size(); ++n)
                    values[n] = costs[n].ptr<float>(y)[x];
                std::partial_sort(values.begin(), values.begin() + counted, values.end());
                float sum = 0;
                for (int i = 0; i < counted; ++i) sum += values[i];
                out[x] = sum / counted;
            }
        }
    }
}

// Per pixel the best inverse depth found (0 where none) and its cost.
struct Estimate {
    cv::Mat inverse;  // CV_32F
    cv::Mat cost;     // CV_32F
};

struct Range {
    double inverseFar, inverseNear;
    double step() const { return inverseNear - inverseFar; }
    bool contains(double inverse) const { return inverse > inverseFar && inverse < inverseNear; }
};

// Every plane, fronto-parallel in the reference camera, evenly spread in inverse depth. Each
// plane's cost at a pixel is the least of those within `shift` of it: with one hypothesis for
// the whole image, that is the best of the shifted windows holding the pixel.
Estimate sweep(const Level& level, const Range& range, const StereoOptions& options, int shift) {
    const cv::Size size = level.reference.grey.size();
    const int window = options.window;
    const int counted = std::clamp(options.bestNeighbours, 1, int(level.neighbours.size()));
    // Per pixel: the best cost so far, its plane, and the costs of the planes either side of
    // it for a sub-plane refinement.
    cv::Mat best(size, CV_32F, cv::Scalar(std::numeric_limits<float>::max()));
    cv::Mat bestPlane(size, CV_32S, cv::Scalar(-1));
    cv::Mat before(size, CV_32F, cv::Scalar(1)), after(size, CV_32F, cv::Scalar(1));
    cv::Mat previous(size, CV_32F, cv::Scalar(1));
    std::vector<cv::Mat> costs(level.neighbours.size());
    cv::Mat warped, combined;
    const cv::Mat shifts =
        cv::getStructuringElement(cv::MORPH_RECT, {2 * shift + 1, 2 * shift + 1});
    const double step = range.step() / options.planes;
    for (int k = 0; k < options.planes; ++k) {
        const double inverse = range.inverseFar + step * (k + 0.5);
        for (std::size_t n = 0; n < level.neighbours.size(); ++n) {
            cv::warpPerspective(
                level.neighbours[n].grey, warped, cv::Mat(level.rays[n].plane(inverse)), size,
                cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, cv::Scalar(-1));
            matchCost(level.reference.grey, level.stats, warped, window, costs[n]);
        }
        combineBest(costs, counted, combined);
        if (shift > 0) cv::erode(combined, combined, shifts);
        for (int y = 0; y < size.height; ++y) {
            const float* c = combined.ptr<float>(y);
            const float* p = previous.ptr<float>(y);
            float* b = best.ptr<float>(y);
            int* plane = bestPlane.ptr<int>(y);
            float* lo = before.ptr<float>(y);
            float* hi = after.ptr<float>(y);
            int x = 0;
#if CV_SIMD
            const auto planeNow = cv::vx_setall_s32(k), planeBefore = cv::vx_setall_s32(k - 1);
            const auto one = cv::vx_setall_f32(1);
            for (; x + cv::v_float32::nlanes <= size.width; x += cv::v_float32::nlanes) {
                const auto cost = cv::vx_load(c + x), least = cv::vx_load(b + x);
                const auto planes = cv::vx_load(plane + x);
                const auto above = cv::v_select(cv::v_reinterpret_as_f32(planes == planeBefore),
                                                cost, cv::vx_load(hi + x));
                const auto better = cost < least;
                cv::v_store(b + x, cv::v_select(better, cost, least));
                cv::v_store(plane + x,
                            cv::v_select(cv::v_reinterpret_as_s32(better), planeNow, planes));
                cv::v_store(lo + x, cv::v_select(better, k > 0 ? cv::vx_load(p + x) : one,
                                                 cv::vx_load(lo + x)));
                cv::v_store(hi + x, cv::v_select(better, one, above));
            }
#endif
            for (; x < size.width; ++x) {
                if (plane[x] == k - 1) hi[x] = c[x];
                if (c[x] < b[x]) {
                    b[x] = c[x];
                    plane[x] = k;
                    lo[x] = k > 0 ? p[x] : 1;
                    hi[x] = 1;
                }
            }
        }
        std::swap(combined, previous);
    }

    Estimate estimate{cv::Mat::zeros(size, CV_32F), best};
    for (int y = 0; y < size.height; ++y) {
        const float* b = best.ptr<float>(y);
        const int* plane = bestPlane.ptr<int>(y);
        const float* lo = before.ptr<float>(y);
        const float* hi = after.ptr<float>(y);
        float* out = estimate.inverse.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            if (plane[x] <= 0 || plane[x] >= options.planes - 1) continue;  // at the range's edge
            // A parabola through the three costs puts the minimum between planes.
            const double curvature = lo[x] - 2.0 * b[x] + hi[x];
            double shift = curvature > 1e-6 ? 0.5 * (lo[x] - hi[x]) / curvature : 0.0;
            shift = std::clamp(shift, -0.5, 0.5);
            out[x] = float(range.inverseFar + step * (plane[x] + 0.5 + shift));
        }
    }
    return estimate;
}

// Where a row of reference pixels, each at its own inverse depth (`middle` where it has
// none), falls in a neighbour. Run for every pixel of every finer-level hypothesis, so in
// OpenCV's portable vectors and in floats: the remap rounds to a 32nd of a pixel anyway.
void warpRow(const Ray& ray, int y, const float* inverse, float middle, int width, float* mapX,
             float* mapY) {
    const auto& a = ray.a;
    float row[3], across[3], toward[3];
    for (int i = 0; i < 3; ++i) {
        row[i] = float(a(i, 1) * y + a(i, 2));
        across[i] = float(a(i, 0));
        toward[i] = float(ray.b[i]);
    }
    auto one = [&](int x) {
        const float at = inverse[x] > 0 ? inverse[x] : middle;
        const float z = across[2] * x + row[2] + at * toward[2];
        if (z <= 1e-9f) {
            mapX[x] = mapY[x] = -1e6f;  // behind the neighbour: outside its photo
            return;
        }
        mapX[x] = (across[0] * x + row[0] + at * toward[0]) / z;
        mapY[x] = (across[1] * x + row[1] + at * toward[1]) / z;
    };
    int x = 0;
#if CV_SIMD
    constexpr int lanes = cv::v_float32::nlanes;
    float steps[lanes];
    for (int i = 0; i < lanes; ++i) steps[i] = float(i);
    const auto step = cv::vx_load(steps), zero = cv::vx_setzero_f32(),
               vMiddle = cv::vx_setall_f32(middle), nearest = cv::vx_setall_f32(1e-9f),
               outside = cv::vx_setall_f32(-1e6f);
    for (; x + lanes <= width; x += lanes) {
        const auto px = cv::vx_setall_f32(float(x)) + step;
        const auto w = cv::vx_load(inverse + x);
        const auto at = cv::v_select(w > zero, w, vMiddle);
        auto line = [&](int i) {
            return cv::vx_setall_f32(across[i]) * px + cv::vx_setall_f32(row[i]) +
                   at * cv::vx_setall_f32(toward[i]);
        };
        const auto z = line(2);
        const auto behind = z <= nearest;
        cv::v_store(mapX + x, cv::v_select(behind, outside, line(0) / z));
        cv::v_store(mapY + x, cv::v_select(behind, outside, line(1) / z));
    }
#endif
    for (; x < width; ++x) one(x);
}

// The combined cost of each pixel at its own inverse depth; 2 where it has none (0).
void costAt(const Level& level, const cv::Mat& inverse, const Range& range,
            const StereoOptions& options, cv::Mat& combined) {
    const cv::Size size = inverse.size();
    // A pixel without a depth is warped at mid-range, so that its window still serves its
    // neighbours, and priced as no match after.
    const float middle = float(range.inverseFar + range.step() / 2);
    const int counted = std::clamp(options.bestNeighbours, 1, int(level.neighbours.size()));
    std::vector<cv::Mat> costs(level.neighbours.size());
    cv::Mat mapX(size, CV_32F), mapY(size, CV_32F), warped;
    for (std::size_t n = 0; n < level.rays.size(); ++n) {
        for (int y = 0; y < size.height; ++y)
            warpRow(level.rays[n], y, inverse.ptr<float>(y), middle, size.width, mapX.ptr<float>(y),
                    mapY.ptr<float>(y));
        cv::remap(level.neighbours[n].grey, warped, mapX, mapY, cv::INTER_LINEAR,
                  cv::BORDER_CONSTANT, cv::Scalar(-1));
        matchCost(level.reference.grey, level.stats, warped, options.window, costs[n]);
    }
    combineBest(costs, counted, combined);
    combined.setTo(2.0f, inverse <= 0);
}

// Each pixel's coarser answer (and its coarser neighbours' nearest and farthest, so that an
// edge the coarse level blurred can still take either side), a few finer steps either way.
Estimate refine(const Level& level, const cv::Mat& coarse, const Range& range, double step,
                const StereoOptions& options) {
    const cv::Size size = level.reference.grey.size();
    cv::Mat holesHigh = coarse.clone();
    holesHigh.setTo(std::numeric_limits<float>::max(), coarse <= 0);
    cv::Mat farthest, nearest, centre, low, high;
    const cv::Mat around = cv::getStructuringElement(cv::MORPH_RECT, {3, 3});
    cv::erode(holesHigh, farthest, around);
    farthest.setTo(0, farthest == std::numeric_limits<float>::max());
    cv::dilate(coarse, nearest, around);
    cv::resize(coarse, centre, size, 0, 0, cv::INTER_NEAREST);
    cv::resize(farthest, low, size, 0, 0, cv::INTER_NEAREST);
    cv::resize(nearest, high, size, 0, 0, cv::INTER_NEAREST);

    Estimate best{cv::Mat::zeros(size, CV_32F), cv::Mat(size, CV_32F, cv::Scalar(2.0f))};
    cv::Mat hypothesis(size, CV_32F), cost;
    auto offer = [&](const cv::Mat& base, double offset) {
        for (int y = 0; y < size.height; ++y) {
            const float* from = base.ptr<float>(y);
            float* to = hypothesis.ptr<float>(y);
            for (int x = 0; x < size.width; ++x) {
                const double inverse = from[x] + offset;
                to[x] = from[x] > 0 && range.contains(inverse) ? float(inverse) : 0.0f;
            }
        }
        costAt(level, hypothesis, range, options, cost);
        for (int y = 0; y < size.height; ++y) {
            const float *c = cost.ptr<float>(y), *h = hypothesis.ptr<float>(y);
            float *b = best.cost.ptr<float>(y), *w = best.inverse.ptr<float>(y);
            for (int x = 0; x < size.width; ++x) {
                if (c[x] < b[x]) b[x] = c[x], w[x] = h[x];
            }
        }
    };
    for (int s = -options.refineSteps; s <= options.refineSteps; ++s) offer(centre, s * step);
    for (int s = -1; s <= 1; ++s) {
        offer(low, s * step);
        offer(high, s * step);
    }

    // A parabola through the costs a step either side puts the minimum between steps.
    cv::Mat lowCost, highCost, shifted;
    cv::Mat bestInverse = best.inverse.clone();
    shifted = bestInverse - step;
    shifted.setTo(0, bestInverse <= 0);
    costAt(level, shifted, range, options, lowCost);
    shifted = bestInverse + step;
    shifted.setTo(0, bestInverse <= 0);
    costAt(level, shifted, range, options, highCost);
    for (int y = 0; y < size.height; ++y) {
        const float *lo = lowCost.ptr<float>(y), *hi = highCost.ptr<float>(y),
                    *b = best.cost.ptr<float>(y);
        float* w = best.inverse.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            if (w[x] <= 0) continue;
            const double curvature = lo[x] - 2.0 * b[x] + hi[x];
            double shift = curvature > 1e-6 ? 0.5 * (lo[x] - hi[x]) / curvature : 0.0;
            w[x] = float(w[x] + std::clamp(shift, -0.5, 0.5) * step);
        }
    }
    return best;
}

}  // namespace

RegisteredView viewAtSize(const RegisteredView& view, cv::Size size) {
    RegisteredView scaled = view;
    const double sx = double(size.width) / view.camera.width;
    const double sy = double(size.height) / view.camera.height;
    scaled.camera.width = size.width;
    scaled.camera.height = size.height;
    scaled.camera.fx *= sx;
    scaled.camera.fy *= sy;
    scaled.camera.cx *= sx;
    scaled.camera.cy *= sy;
    return scaled;
}

DepthMap computeDepthMap(const StereoView& reference, const std::vector<StereoView>& neighbours,
                         double nearest, double farthest, const StereoOptions& options) {
    const cv::Size size = reference.grey.size();
    DepthMap result{reference.view, cv::Mat::zeros(size, CV_32F)};
    if (neighbours.empty() || nearest <= 0 || farthest <= nearest) return result;
    const Range range{1 / farthest, 1 / nearest};

    // The pyramid, finest first; a level too small for a few windows is not made.
    std::vector<std::pair<StereoView, std::vector<StereoView>>> images{{reference, neighbours}};
    while (int(images.size()) < options.levels) {
        const auto& [finer, others] = images.back();
        if (std::min(finer.grey.cols, finer.grey.rows) < 16 * options.window) break;
        std::vector<StereoView> smaller;
        for (const auto& other : others) smaller.push_back(halved(other));
        images.emplace_back(halved(finer), std::move(smaller));
    }
    Estimate estimate;
    double step = range.step() / options.planes;
    for (auto level = images.rbegin(); level != images.rend(); ++level) {
        const bool coarsest = level == images.rbegin();
        StereoOptions here = options;
        if (coarsest && images.size() > 1) here.window = options.coarseWindow;
        const Level current = makeLevel(level->first, level->second, here.window);
        if (coarsest) {
            // A single level is swept with its windows as they are: there is no finer level to
            // judge the shifted windows' answers.
            estimate = sweep(current, range, here, images.size() > 1 ? options.coarseShift : 0);
        } else {
            step /= 2;
            estimate = refine(current, estimate.inverse, range, step, options);
        }
    }

    const WindowStats stats = windowStats(reference.grey, options.window);
    for (int y = 0; y < size.height; ++y) {
        const float* cost = estimate.cost.ptr<float>(y);
        const float* inverse = estimate.inverse.ptr<float>(y);
        const float* deviation = stats.deviation.ptr<float>(y);
        const std::uint8_t* mask = reference.mask.empty() ? nullptr : reference.mask.ptr(y);
        float* out = result.depth.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            if (inverse[x] <= 0) continue;
            if (1 - cost[x] < options.minimumCorrelation) continue;
            if (deviation[x] < options.minimumTexture) continue;
            if (mask && !mask[x]) continue;
            out[x] = 1 / inverse[x];
        }
    }
    return result;
}

}  // namespace pelorin::engine::local
