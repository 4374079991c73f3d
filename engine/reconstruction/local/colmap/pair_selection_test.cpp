#include "engine/reconstruction/local/colmap/pair_selection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

namespace pelorin::engine::local {
namespace {

// A textured ball seen by cameras around it: each photo holds the features of the ball's points
// that face it, projected through a pinhole, with the point's own descriptor plus noise.
class Scene {
  public:
    explicit Scene(int points) {
        std::normal_distribution<float> normal;
        std::uniform_int_distribution<int> level(0, 60);
        for (int i = 0; i < points; ++i) {
            cv::Vec3d p(normal(random_), normal(random_), normal(random_));
            points_.push_back(p / cv::norm(p));
            cv::Mat descriptor(1, 128, CV_8U);
            for (int k = 0; k < 128; ++k)
                descriptor.at<std::uint8_t>(k) = std::uint8_t(level(random_));
            descriptors_.push_back(descriptor);
        }
    }

    // A photo from `degrees` around the vertical and `elevation` degrees above the horizon.
    PhotoFeatures photo(double degrees, double elevation) {
        const double a = degrees * M_PI / 180, e = elevation * M_PI / 180;
        const cv::Vec3d centre =
            3.0 * cv::Vec3d(std::cos(e) * std::cos(a), std::sin(e), std::cos(e) * std::sin(a));
        const cv::Vec3d forward = -centre / cv::norm(centre);
        cv::Vec3d right = forward.cross(cv::Vec3d(0, 1, 0));
        right /= cv::norm(right);
        const cv::Vec3d down = forward.cross(right);
        PhotoFeatures photo;
        photo.name = "photo" + std::to_string(count_++);
        std::uniform_int_distribution<int> noise(-3, 3);
        std::vector<int> seen;
        for (int i = 0; i < int(points_.size()); ++i) {
            const cv::Vec3d towards = (centre - points_[i]) / cv::norm(centre - points_[i]);
            if (points_[i].dot(towards) > std::cos(70 * M_PI / 180)) seen.push_back(i);
        }
        std::shuffle(seen.begin(), seen.end(), random_);
        photo.descriptors.create(int(seen.size()), 128, CV_8U);
        for (int row = 0; row < int(seen.size()); ++row) {
            const cv::Vec3d d = points_[seen[row]] - centre;
            const double depth = d.dot(forward);
            photo.points.emplace_back(500 + 600 * d.dot(right) / depth,
                                      400 + 600 * d.dot(down) / depth);
            for (int k = 0; k < 128; ++k)
                photo.descriptors.at<std::uint8_t>(row, k) = cv::saturate_cast<std::uint8_t>(
                    descriptors_[seen[row]].at<std::uint8_t>(k) + noise(random_));
        }
        return photo;
    }

    // A photo of something else: features of its own at random places.
    PhotoFeatures stranger() {
        PhotoFeatures photo;
        photo.name = "stranger";
        std::uniform_real_distribution<float> place(0, 1000);
        std::uniform_int_distribution<int> level(0, 60);
        photo.descriptors.create(400, 128, CV_8U);
        for (int row = 0; row < 400; ++row) {
            photo.points.emplace_back(place(random_), place(random_) * 0.8f);
            for (int k = 0; k < 128; ++k)
                photo.descriptors.at<std::uint8_t>(row, k) = std::uint8_t(level(random_));
        }
        return photo;
    }

  private:
    std::mt19937 random_{7};
    std::vector<cv::Vec3d> points_;
    std::vector<cv::Mat> descriptors_;
    int count_ = 0;
};

bool connected(int photos, const std::vector<std::pair<int, int>>& pairs) {
    std::vector<std::set<int>> links(photos);
    for (const auto& [i, j] : pairs) {
        links[i].insert(j);
        links[j].insert(i);
    }
    std::set<int> reached = {0};
    std::vector<int> open = {0};
    while (!open.empty()) {
        const int i = open.back();
        open.pop_back();
        for (int j : links[i])
            if (reached.insert(j).second) open.push_back(j);
    }
    return int(reached.size()) == photos;
}

TEST(PairSelection, ARingClosesAndEveryPhotoHasPartnersOnBothSidesOfItsOrder) {
    Scene scene(1500);
    std::vector<PhotoFeatures> photos;
    for (int i = 0; i < 24; ++i) photos.push_back(scene.photo(15.0 * i, 20));
    const auto pairs = selectPairs(photos, true);
    const std::set<std::pair<int, int>> chosen(pairs.begin(), pairs.end());
    // Far fewer than every pair, and each photo with both its neighbours around the ring.
    EXPECT_LT(pairs.size(), 24u * 23 / 2 / 2);
    for (int i = 0; i < 24; ++i) {
        const int next = (i + 1) % 24;
        EXPECT_TRUE(chosen.count({std::min(i, next), std::max(i, next)})) << i << "-" << next;
    }
    for (int i = 1; i < 23; ++i) {
        EXPECT_TRUE(std::any_of(pairs.begin(), pairs.end(), [&](auto p) { return p.second == i; }))
            << i;
        EXPECT_TRUE(std::any_of(pairs.begin(), pairs.end(), [&](auto p) { return p.first == i; }))
            << i;
    }
}

TEST(PairSelection, TwoRingsLinkAndPhotosOfSomethingElseOrOfNothingGetNoPartners) {
    Scene scene(1500);
    std::vector<PhotoFeatures> photos;
    for (int i = 0; i < 12; ++i) photos.push_back(scene.photo(30.0 * i, 0));
    for (int i = 0; i < 12; ++i) photos.push_back(scene.photo(30.0 * i + 15, 55));
    photos.push_back(scene.stranger());
    photos.emplace_back();  // no features at all
    const auto pairs = selectPairs(photos, false);
    EXPECT_TRUE(connected(24, pairs));
    EXPECT_TRUE(std::any_of(pairs.begin(), pairs.end(),
                            [](auto p) { return p.first < 12 && p.second >= 12; }));
    EXPECT_FALSE(std::any_of(pairs.begin(), pairs.end(), [](auto p) { return p.second >= 24; }));
    // Before full matching, each is paired with every other photo, in case the pass missed it.
    const auto full = withLonePhotosMatchedInFull(pairs, 26);
    EXPECT_EQ(full.size(), pairs.size() + 24 + 24 + 1);
}

}  // namespace
}  // namespace pelorin::engine::local
