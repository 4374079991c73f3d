#include "engine/reconstruction/local/lens_undistortion.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace pelorin::engine::local {

namespace {

// No side is cut by more than a quarter of the photo: past that a lens model is too far off to
// trust at the border.
constexpr int mostCutDivisor = 4;
constexpr int inversionSteps = 20;

double radialFactor(const LensCamera& lens, double x, double y) {
    const double r2 = x * x + y * y;
    return 1 + lens.k1 * r2 + lens.k2 * r2 * r2;
}

// The photo's camera with whole pixels cut away at each side, its pixel centres on the photo's
// pixel corners.
PinholeCamera cut(const PinholeCamera& camera, int left, int right, int top, int bottom) {
    PinholeCamera out = camera;
    out.width -= left + right + 1;
    out.height -= top + bottom + 1;
    out.cx -= left + 0.5;
    out.cy -= top + 0.5;
    return out;
}

}  // namespace

std::array<double, 2> distortedPixel(const LensCamera& lens, const PinholeCamera& pinhole, double u,
                                     double v) {
    const double x = (u - pinhole.cx) / pinhole.fx, y = (v - pinhole.cy) / pinhole.fy;
    const double d = radialFactor(lens, x, y);
    return {lens.pinhole.fx * x * d + lens.pinhole.cx, lens.pinhole.fy * y * d + lens.pinhole.cy};
}

std::array<double, 2> undistortedPixel(const LensCamera& lens, const PinholeCamera& pinhole,
                                       double u, double v) {
    const double xd = (u - lens.pinhole.cx) / lens.pinhole.fx;
    const double yd = (v - lens.pinhole.cy) / lens.pinhole.fy;
    // Fixed-point iteration: the factor changes little across the photo for a real lens.
    double x = xd, y = yd;
    for (int i = 0; i < inversionSteps; ++i) {
        const double d = radialFactor(lens, x, y);
        x = xd / d;
        y = yd / d;
    }
    return {pinhole.fx * x + pinhole.cx, pinhole.fy * y + pinhole.cy};
}

PinholeCamera undistortedCamera(const LensCamera& lens) {
    const PinholeCamera& photo = lens.pinhole;
    const auto inside = [&](const PinholeCamera& pinhole, double u, double v) {
        const auto [x, y] = distortedPixel(lens, pinhole, u, v);
        return x >= 0 && x <= photo.width && y >= 0 && y <= photo.height;
    };
    // margins: left, right, top, bottom
    std::array<int, 4> margins{};
    // Which sides of the cut image have a pixel outside the photo.
    const auto outside = [&] {
        const PinholeCamera pinhole = cut(photo, margins[0], margins[1], margins[2], margins[3]);
        const auto column = [&](double at) {
            for (int y = 0; y < pinhole.height; ++y)
                if (!inside(pinhole, at, y + 0.5)) return true;
            return false;
        };
        const auto row = [&](double at) {
            for (int x = 0; x < pinhole.width; ++x)
                if (!inside(pinhole, x + 0.5, at)) return true;
            return false;
        };
        return std::array<bool, 4>{column(0.5), column(pinhole.width - 0.5), row(0.5),
                                   row(pinhole.height - 0.5)};
    };
    const auto none = [](const std::array<bool, 4>& sides) {
        return std::none_of(sides.begin(), sides.end(), [](bool side) { return side; });
    };
    // Each side moves inwards a pixel at a time while one of its pixels falls outside.
    const std::array<int, 4> most = {photo.width / mostCutDivisor, photo.width / mostCutDivisor,
                                     photo.height / mostCutDivisor, photo.height / mostCutDivisor};
    for (bool moved = true; moved;) {
        moved = false;
        const auto sides = outside();
        for (int k = 0; k < 4; ++k) {
            if (sides[k] && margins[k] < most[k]) {
                ++margins[k];
                moved = true;
            }
        }
    }
    // A side cut early for a corner that the other sides' cuts took away later gets its pixels
    // back.
    if (none(outside())) {
        for (int& margin : margins) {
            while (margin > 0) {
                --margin;
                if (!none(outside())) {
                    ++margin;
                    break;
                }
            }
        }
    }
    return cut(photo, margins[0], margins[1], margins[2], margins[3]);
}

cv::Mat undistortImage(const cv::Mat& photo, const LensCamera& lens, const PinholeCamera& pinhole) {
    cv::Mat mapX(pinhole.height, pinhole.width, CV_32F),
        mapY(pinhole.height, pinhole.width, CV_32F);
    for (int y = 0; y < pinhole.height; ++y) {
        float* xs = mapX.ptr<float>(y);
        float* ys = mapY.ptr<float>(y);
        for (int x = 0; x < pinhole.width; ++x) {
            const auto [u, v] = distortedPixel(lens, pinhole, x + 0.5, y + 0.5);
            // remap addresses pixels by their centres.
            xs[x] = static_cast<float>(u - 0.5);
            ys[x] = static_cast<float>(v - 0.5);
        }
    }
    cv::Mat undistorted;
    cv::remap(photo, undistorted, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return undistorted;
}

}  // namespace pelorin::engine::local
