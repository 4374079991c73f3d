#include "engine/reconstruction/local/lens_undistortion.h"

#include <cmath>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

using namespace pelorin::engine::local;

namespace {

struct LensCase {
    const char* name;
    double k1, k2;
};

// A phone-like 640 x 480 camera; the distortions span what phones' lenses give and more.
const LensCase lensCases[] = {{"none", 0, 0},
                              {"nearly none", -4e-5, 0},
                              {"barrel", -0.08, 0},
                              {"pincushion", 0.06, 0},
                              {"barrel with a fourth-order term", -0.1, 0.03},
                              {"off-centre pincushion", 0.12, 0}};

LensCamera lensOf(const LensCase& c) {
    LensCamera lens;
    lens.id = 1;
    lens.pinhole = {640, 480, 520, 520, 320, 240};
    if (std::string(c.name) == "off-centre pincushion") {
        lens.pinhole.cx = 301.5;
        lens.pinhole.cy = 252.25;
    }
    lens.k1 = c.k1;
    lens.k2 = c.k2;
    return lens;
}

// The largest distance by which a border pixel of `pinhole` falls outside the photo.
double borderOverrun(const LensCamera& lens, const PinholeCamera& pinhole) {
    double worst = -1e9;
    auto check = [&](double u, double v) {
        const auto [x, y] = distortedPixel(lens, pinhole, u, v);
        worst = std::max({worst, -x, x - lens.pinhole.width, -y, y - lens.pinhole.height});
    };
    for (int x = 0; x < pinhole.width; ++x) {
        check(x + 0.5, 0.5);
        check(x + 0.5, pinhole.height - 0.5);
    }
    for (int y = 0; y < pinhole.height; ++y) {
        check(0.5, y + 0.5);
        check(pinhole.width - 0.5, y + 0.5);
    }
    return worst;
}

// A smooth pattern on the plane z = 1 in front of the camera, at normalised coordinates.
double pattern(double x, double y) {
    return 128 + 60 * std::sin(60 * x) * std::cos(47 * y) + 30 * std::sin(17 * (x + y));
}

// An image of the pattern taken through a distorted lens, or through a pinhole.
cv::Mat photograph(const LensCamera& lens) {
    const PinholeCamera unit{1, 1, 1, 1, 0, 0};
    cv::Mat image(lens.pinhole.height, lens.pinhole.width, CV_8UC3);
    for (int v = 0; v < image.rows; ++v) {
        for (int u = 0; u < image.cols; ++u) {
            const auto [x, y] = undistortedPixel(lens, unit, u + 0.5, v + 0.5);
            image.at<cv::Vec3b>(v, u) = cv::Vec3b::all(cv::saturate_cast<uchar>(pattern(x, y)));
        }
    }
    return image;
}

}  // namespace

TEST(LensUndistortion, TheCameraSeesNoBlankBorderAndCutsAwayNoMoreThanThatNeeds) {
    for (const auto& c : lensCases) {
        const LensCamera lens = lensOf(c);
        const PinholeCamera pinhole = undistortedCamera(lens);
        EXPECT_EQ(pinhole.fx, lens.pinhole.fx) << c.name;
        EXPECT_EQ(pinhole.fy, lens.pinhole.fy) << c.name;
        // Whole pixels cut, none added, the pixel centres half a pixel in.
        const int left = static_cast<int>(lens.pinhole.cx - pinhole.cx - 0.5);
        const int top = static_cast<int>(lens.pinhole.cy - pinhole.cy - 0.5);
        const int right = lens.pinhole.width - pinhole.width - 1 - left;
        const int bottom = lens.pinhole.height - pinhole.height - 1 - top;
        EXPECT_EQ(lens.pinhole.cx - pinhole.cx, left + 0.5) << c.name;
        EXPECT_EQ(lens.pinhole.cy - pinhole.cy, top + 0.5) << c.name;
        for (int margin : {left, right, top, bottom}) EXPECT_GE(margin, 0) << c.name;
        EXPECT_LE(borderOverrun(lens, pinhole), 0) << c.name;
        // A pixel less cut at any side that was cut shows beyond the photo.
        const auto uncut = [&](int dl, int dr, int dt, int db) {
            PinholeCamera wider = pinhole;
            wider.width += dl + dr;
            wider.height += dt + db;
            wider.cx += dl;
            wider.cy += dt;
            return borderOverrun(lens, wider);
        };
        if (left > 0) {
            EXPECT_GT(uncut(1, 0, 0, 0), 0) << c.name;
        }
        if (right > 0) {
            EXPECT_GT(uncut(0, 1, 0, 0), 0) << c.name;
        }
        if (top > 0) {
            EXPECT_GT(uncut(0, 0, 1, 0), 0) << c.name;
        }
        if (bottom > 0) {
            EXPECT_GT(uncut(0, 0, 0, 1), 0) << c.name;
        }
        if (c.k1 > 0) {
            EXPECT_GT(left + right + top + bottom, 0) << c.name;
        }
        if (c.k1 <= 0 && c.k2 == 0) {
            // Barrel distortion pulls the photo's border inwards: nothing needs cutting.
            EXPECT_EQ(left + right + top + bottom, 0) << c.name;
        }
    }
}

TEST(LensUndistortion, APhotoWithoutDistortionBecomesTheMeanOfEachFourPixels) {
    cv::Mat photo(480, 640, CV_8UC3);
    cv::randu(photo, 0, 255);
    cv::Mat means;
    cv::blur(photo, means, {2, 2}, {1, 1});
    for (const auto& c : lensCases) {
        if (std::abs(c.k1) > 1e-3) continue;
        const LensCamera lens = lensOf(c);
        const cv::Mat undistorted = undistortImage(photo, lens, undistortedCamera(lens));
        ASSERT_EQ(undistorted.size(), cv::Size(639, 479)) << c.name;
        cv::Mat difference;
        cv::absdiff(undistorted, means(cv::Rect(1, 1, 639, 479)), difference);
        double worst = 0;
        cv::minMaxLoc(difference.reshape(1), nullptr, &worst);
        EXPECT_LE(worst, 1) << c.name;
    }
}

TEST(LensUndistortion, PixelsGoThereAndBack) {
    for (const auto& c : lensCases) {
        const LensCamera lens = lensOf(c);
        const PinholeCamera pinhole = undistortedCamera(lens);
        for (double v = 0; v <= 480; v += 40) {
            for (double u = 0; u <= 640; u += 40) {
                const auto [x, y] = undistortedPixel(lens, pinhole, u, v);
                const auto [back, up] = distortedPixel(lens, pinhole, x, y);
                EXPECT_NEAR(back, u, 1e-6) << c.name << " at " << u << ", " << v;
                EXPECT_NEAR(up, v, 1e-6) << c.name << " at " << u << ", " << v;
            }
        }
    }
}

TEST(LensUndistortion, TheImageIsWhatAPinholeWouldHaveSeen) {
    for (const auto& c : lensCases) {
        const LensCamera lens = lensOf(c);
        const PinholeCamera pinhole = undistortedCamera(lens);
        const cv::Mat undistorted = undistortImage(photograph(lens), lens, pinhole);
        ASSERT_EQ(undistorted.size(), cv::Size(pinhole.width, pinhole.height)) << c.name;
        LensCamera straight;
        straight.pinhole = pinhole;
        const cv::Mat truth = photograph(straight);
        // Inside a margin of two pixels, where resampling needs no pixels beyond the photo.
        const cv::Rect inner(2, 2, truth.cols - 4, truth.rows - 4);
        cv::Mat difference;
        cv::absdiff(undistorted(inner), truth(inner), difference);
        EXPECT_LT(cv::mean(difference)[0], 1.0) << c.name;
        double worst = 0;
        cv::minMaxLoc(difference.reshape(1), nullptr, &worst);
        EXPECT_LE(worst, 6) << c.name;
    }
}
