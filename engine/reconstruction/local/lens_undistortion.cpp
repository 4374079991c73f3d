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
    // Each side moves inwards a pixel at a time while one of its pixels falls outside the photo.
    int left = 0, right = 0, top = 0, bottom = 0;
    for (bool moved = true; moved;) {
        moved = false;
        const PinholeCamera pinhole = cut(photo, left, right, top, bottom);
        const auto sideOutside = [&](bool row, double at) {
            const int length = row ? pinhole.width : pinhole.height;
            for (int i = 0; i < length; ++i) {
                if (!(row ? inside(pinhole, i + 0.5, at) : inside(pinhole, at, i + 0.5)))
                    return true;
            }
            return false;
        };
        const int mostX = photo.width / mostCutDivisor, mostY = photo.height / mostCutDivisor;
        const auto step = [&](int& margin, int most, bool outside) {
            if (outside && margin < most) {
                ++margin;
                moved = true;
            }
        };
        step(left, mostX, sideOutside(false, 0.5));
        step(right, mostX, sideOutside(false, pinhole.width - 0.5));
        step(top, mostY, sideOutside(true, 0.5));
        step(bottom, mostY, sideOutside(true, pinhole.height - 0.5));
    }
    // A side cut early for a corner that the other sides' cuts took away later gets its pixels
    // back.
    const auto allInside = [&] {
        const PinholeCamera pinhole = cut(photo, left, right, top, bottom);
        for (int x = 0; x < pinhole.width; ++x) {
            if (!inside(pinhole, x + 0.5, 0.5) || !inside(pinhole, x + 0.5, pinhole.height - 0.5))
                return false;
        }
        for (int y = 0; y < pinhole.height; ++y) {
            if (!inside(pinhole, 0.5, y + 0.5) || !inside(pinhole, pinhole.width - 0.5, y + 0.5))
                return false;
        }
        return true;
    };
    if (allInside()) {
        for (int* margin : {&left, &right, &top, &bottom}) {
            while (*margin > 0) {
                --*margin;
                if (!allInside()) {
                    ++*margin;
                    break;
                }
            }
        }
    }
    return cut(photo, left, right, top, bottom);
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
