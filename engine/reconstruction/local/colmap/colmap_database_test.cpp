#include "engine/reconstruction/local/colmap/colmap_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/scratch_folder.h"

namespace pelorin::engine::local {
namespace {

// A database in COLMAP's own schema with two photos on cameras of their own.
class ColmapDatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string command =
            "colmap database_creator --database_path '" + file.string() + "' > /dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        const double params[4] = {100, 32, 24, 0};
        for (int camera = 1; camera <= 2; ++camera) {
            sqlite3_stmt* insert = nullptr;
            sqlite3_prepare_v2(db, "INSERT INTO cameras VALUES (?1, 2, 64, 48, ?2, 0)", -1, &insert,
                               nullptr);
            sqlite3_bind_int(insert, 1, camera);
            sqlite3_bind_blob(insert, 2, params, sizeof params, SQLITE_TRANSIENT);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_finalize(insert);
        }
        run("INSERT INTO images (image_id, name, camera_id) VALUES (1, 'b.jpg', 1), (2, 'a.jpg', "
            "2)");
    }
    void TearDown() override { sqlite3_close(db); }

    void run(const std::string& sql) {
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    }
    void putFeatures(int image, const std::vector<float>& keypoints, int cols,
                     const std::vector<std::uint8_t>& descriptors) {
        for (const char* table : {"keypoints", "descriptors"}) {
            const bool points = table[0] == 'k';
            sqlite3_stmt* insert = nullptr;
            sqlite3_prepare_v2(
                db, (std::string("INSERT INTO ") + table + " VALUES (?1, ?2, ?3, ?4)").c_str(), -1,
                &insert, nullptr);
            sqlite3_bind_int(insert, 1, image);
            sqlite3_bind_int(insert, 2, int(keypoints.size()) / cols);
            sqlite3_bind_int(insert, 3, points ? cols : 128);
            if (points)
                sqlite3_bind_blob(insert, 4, keypoints.data(), int(keypoints.size() * 4),
                                  SQLITE_TRANSIENT);
            else
                sqlite3_bind_blob(insert, 4, descriptors.data(), int(descriptors.size()),
                                  SQLITE_TRANSIENT);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_finalize(insert);
        }
    }

    pelorin::testing::ScratchFolder folder;
    std::filesystem::path file = folder / "database.db";
    sqlite3* db = nullptr;
};

TEST_F(ColmapDatabaseTest, FocalLengthsReachTheNamedPhotosOnly) {
    ASSERT_EQ(setFocalLengths(file, {{"a.jpg", 250}, {"absent.jpg", 9}}).value(), 1);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT images.name, params, prior_focal_length FROM "
                       "images JOIN cameras ON cameras.camera_id = images.camera_id ORDER BY name",
                       -1, &query, nullptr);
    std::vector<std::tuple<std::string, double, int>> rows;
    while (sqlite3_step(query) == SQLITE_ROW) {
        const auto* params = static_cast<const double*>(sqlite3_column_blob(query, 1));
        rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)), params[0],
                          sqlite3_column_int(query, 2));
    }
    sqlite3_finalize(query);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], std::make_tuple("a.jpg", 250.0, 1));
    EXPECT_EQ(rows[1], std::make_tuple("b.jpg", 100.0, 0));
}

TEST_F(ColmapDatabaseTest, FeaturesComeInStoredOrderTheLargestPickedAndAMalformedRecordIsRefused) {
    // Photo 'b.jpg': three keypoints x, y, scale, orientation; the second is the largest.
    std::vector<std::uint8_t> descriptors(3 * 128);
    for (int row = 0; row < 3; ++row) descriptors[row * 128] = std::uint8_t(10 + row);
    putFeatures(1, {1, 1, 2, 0, 5, 5, 9, 0, 7, 7, 4, 0}, 4, descriptors);
    // Photo 'a.jpg': an affine shape whose determinant is the squared scale.
    putFeatures(2, {3, 4, 2, 0, 0, 2}, 6, std::vector<std::uint8_t>(128, 1));
    const auto photos = readFeatures(file);
    ASSERT_TRUE(photos) << photos.error();
    ASSERT_EQ(photos->size(), 2u);
    const auto& a = (*photos)[0];
    EXPECT_EQ(a.name, "a.jpg");
    EXPECT_EQ(a.imageId, 2);
    EXPECT_EQ(a.points, (std::vector<cv::Point2f>{{3, 4}}));
    EXPECT_EQ(a.scales, (std::vector<float>{2}));
    const auto& b = (*photos)[1];
    EXPECT_EQ(b.points, (std::vector<cv::Point2f>{{1, 1}, {5, 5}, {7, 7}}));
    EXPECT_EQ(b.descriptors.at<std::uint8_t>(2, 0), 12);

    const auto largest = largestFeatures(b, 2);
    EXPECT_EQ(largest.points, (std::vector<cv::Point2f>{{5, 5}, {7, 7}}));
    EXPECT_EQ(largest.descriptors.at<std::uint8_t>(0, 0), 11);
    EXPECT_EQ(largest.descriptors.at<std::uint8_t>(1, 0), 12);
    EXPECT_EQ(largestFeatures(b, 9).points.size(), 3u);
    // The matches stored later refer to the stored order.
    EXPECT_EQ(largestFeatureIndices(b, 2), (std::vector<int>{1, 2}));
    EXPECT_EQ(largestFeatureIndices(b, 9), (std::vector<int>{1, 2, 0}));

    // A record claiming more keypoints than its bytes hold.
    run("UPDATE keypoints SET rows = 1000 WHERE image_id = 1");
    EXPECT_EQ(readFeatures(file).error(),
              "the feature database holds a malformed record for b.jpg");
}

TEST_F(ColmapDatabaseTest, FeaturesWrittenReplaceTheEmptyOnesAndAnUnknownPhotoWritesNone) {
    // As COLMAP's importer leaves them: every photo with empty records.
    putFeatures(1, {}, 6, {});
    putFeatures(2, {}, 6, {});
    PhotoFeatures a{.name = "a.jpg",
                    .points = {{1.5f, 2.5f}, {30.25f, 40.75f}},
                    .scales = {1.25f, 6.5f},
                    .orientations = {0.5f, -2.0f},
                    .descriptors = cv::Mat(2, 128, CV_8U)};
    for (int i = 0; i < 256; ++i) a.descriptors.data[i] = std::uint8_t(i * 7);
    const PhotoFeatures none{.name = "b.jpg", .descriptors = cv::Mat(0, 128, CV_8U)};
    ASSERT_EQ(writeFeatures(file, {a, none}).value(), 2);
    const auto readBack = [&] {
        auto read = readFeatures(file);
        EXPECT_TRUE(read) << read.error();
        EXPECT_EQ(read->size(), 2u);
        return read && read->size() == 2 ? *read : std::vector<PhotoFeatures>(2);
    };
    auto read = readBack();
    EXPECT_EQ(read[0].name, "a.jpg");
    EXPECT_EQ(read[0].points, a.points);
    EXPECT_EQ(read[0].scales, a.scales);
    EXPECT_EQ(read[0].orientations, a.orientations);
    EXPECT_EQ(cv::norm(read[0].descriptors, a.descriptors, cv::NORM_INF), 0);
    EXPECT_EQ(read[1].name, "b.jpg");
    EXPECT_TRUE(read[1].points.empty());

    // A batch naming a photo the database lacks, or holding a malformed record, changes nothing.
    PhotoFeatures fewer = a;
    fewer.points.pop_back();
    PhotoFeatures b = a;
    b.name = "b.jpg";
    b.points = {{9, 9}, {8, 8}};
    PhotoFeatures absent = a;
    absent.name = "absent.jpg";
    EXPECT_EQ(writeFeatures(file, {b, absent}).error(),
              "the feature database has no photo named absent.jpg");
    EXPECT_EQ(writeFeatures(file, {b, fewer}).error(), "the features of a.jpg are malformed");
    read = readBack();
    EXPECT_EQ(read[0].points, a.points);
    EXPECT_TRUE(read[1].points.empty());
}

TEST_F(ColmapDatabaseTest, MatchesAreStoredUnderCOLMAPsPairKeyAndReplaced) {
    const auto stored = [&] {
        std::vector<std::pair<std::int64_t, std::vector<std::uint32_t>>> rows;
        sqlite3_stmt* query = nullptr;
        sqlite3_prepare_v2(db, "SELECT pair_id, rows, cols, data FROM matches", -1, &query,
                           nullptr);
        while (sqlite3_step(query) == SQLITE_ROW) {
            EXPECT_EQ(sqlite3_column_int(query, 2), 2);
            std::vector<std::uint32_t> data(std::size_t(sqlite3_column_int(query, 1)) * 2);
            EXPECT_EQ(std::size_t(sqlite3_column_bytes(query, 3)), data.size() * 4);
            if (!data.empty())
                std::memcpy(data.data(), sqlite3_column_blob(query, 3), data.size() * 4);
            rows.emplace_back(sqlite3_column_int64(query, 0), data);
        }
        sqlite3_finalize(query);
        return rows;
    };
    const std::int64_t key = 2147483647LL * 1 + 2;
    // Named with the larger id first: the key and every match turn round.
    ASSERT_EQ(writeMatches(file, {{2, 1, {{0, 5}, {3, 1}}}}).value(), 1);
    EXPECT_EQ(stored(), (decltype(stored()){{key, {5, 0, 1, 3}}}));
    ASSERT_EQ(writeMatches(file, {{1, 2, {{7, 8}}}}).value(), 1);
    EXPECT_EQ(stored(), (decltype(stored()){{key, {7, 8}}}));
    // A pair without matches is still recorded, so that it is not matched again.
    ASSERT_EQ(writeMatches(file, {{1, 2, {}}}).value(), 1);
    EXPECT_EQ(stored(), (decltype(stored()){{key, {}}}));
    EXPECT_FALSE(writeMatches(folder / "absent" / "database.db", {}));
}

}  // namespace
}  // namespace pelorin::engine::local
