#include "engine/reconstruction/local/colmap/colmap_database.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>
#include <tuple>

namespace pelorin::engine::local {

namespace {

using Database = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

pelorin::Expected<Database, std::string> openDatabase(const std::filesystem::path& file,
                                                      int flags) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(file.c_str(), &raw, flags, nullptr) != SQLITE_OK) {
        std::string reason = raw ? sqlite3_errmsg(raw) : "out of memory";
        sqlite3_close(raw);
        return pelorin::unexpected("the feature database cannot be opened: " + reason);
    }
    return Database(raw, sqlite3_close);
}

Statement prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) raw = nullptr;
    return Statement(raw, sqlite3_finalize);
}

// A blob of `rows` x `cols` elements of `size` bytes, checked against what the record claims.
const void* blobOf(sqlite3_stmt* statement, int column, int rows, int cols, std::size_t size) {
    const void* data = sqlite3_column_blob(statement, column);
    const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    if (rows < 0 || cols <= 0 || rows > 1'000'000 || cols > 1024) return nullptr;
    if (bytes != std::size_t(rows) * std::size_t(cols) * size) return nullptr;
    return rows == 0 ? "" : data;
}

pelorin::Unexpected<std::string> writeFailure(sqlite3* db) {
    return pelorin::unexpected(std::string("the feature database cannot be written: ") +
                               sqlite3_errmsg(db));
}

// Runs `update` on every entry in one transaction. `update` returns how many rows it changed,
// or nothing when a write failed, which undoes them all.
template <typename Entries, typename Update>
pelorin::Expected<int, std::string> updateEach(sqlite3* db, const Entries& entries,
                                               const Update& update) {
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) return writeFailure(db);
    int changed = 0;
    for (const auto& entry : entries) {
        const std::optional<int> done = update(entry);
        if (!done) {
            auto failure = writeFailure(db);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return failure;
        }
        changed += *done;
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return writeFailure(db);
    return changed;
}

}  // namespace

pelorin::Expected<int, std::string> setFocalLengths(const std::filesystem::path& database,
                                                    const std::map<std::string, double>& focals) {
    auto opened = openDatabase(database, SQLITE_OPEN_READWRITE);
    if (!opened) return pelorin::unexpected(opened.error());
    Database db = std::move(opened).value();
    Statement read = prepare(db.get(),
                             "SELECT cameras.camera_id, cameras.params FROM cameras JOIN images "
                             "ON images.camera_id = cameras.camera_id WHERE images.name = ?1");
    Statement write = prepare(
        db.get(), "UPDATE cameras SET params = ?1, prior_focal_length = 1 WHERE camera_id = ?2");
    if (!read || !write)
        return pelorin::unexpected(std::string("the feature database has no cameras: ") +
                                   sqlite3_errmsg(db.get()));
    return updateEach(db.get(), focals, [&](const auto& entry) -> std::optional<int> {
        const auto& [name, focal] = entry;
        sqlite3_reset(read.get());
        sqlite3_bind_text(read.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(read.get()) != SQLITE_ROW) return 0;
        const auto count = std::size_t(sqlite3_column_bytes(read.get(), 1)) / sizeof(double);
        if (count == 0) return 0;
        std::vector<double> params(count);
        std::memcpy(params.data(), sqlite3_column_blob(read.get(), 1), count * sizeof(double));
        params[0] = focal;  // every model this backend asks for starts with the focal length
        const auto camera = sqlite3_column_int64(read.get(), 0);
        sqlite3_reset(write.get());
        sqlite3_bind_blob(write.get(), 1, params.data(), int(count * sizeof(double)),
                          SQLITE_TRANSIENT);
        sqlite3_bind_int64(write.get(), 2, camera);
        if (sqlite3_step(write.get()) != SQLITE_DONE) return std::nullopt;
        return 1;
    });
}

pelorin::Expected<std::vector<PhotoFeatures>, std::string> readFeatures(
    const std::filesystem::path& database) {
    auto opened = openDatabase(database, SQLITE_OPEN_READONLY);
    if (!opened) return pelorin::unexpected(opened.error());
    Database db = std::move(opened).value();
    Statement statement = prepare(db.get(),
                                  "SELECT images.name, images.image_id, keypoints.rows, "
                                  "keypoints.cols, keypoints.data, descriptors.rows, "
                                  "descriptors.cols, descriptors.data FROM images "
                                  "JOIN keypoints ON keypoints.image_id = images.image_id "
                                  "JOIN descriptors ON descriptors.image_id = images.image_id "
                                  "ORDER BY images.name");
    if (!statement)
        return pelorin::unexpected(std::string("the feature database has no features: ") +
                                   sqlite3_errmsg(db.get()));
    std::vector<PhotoFeatures> photos;
    int step;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        PhotoFeatures photo;
        if (const auto* name = sqlite3_column_text(statement.get(), 0))
            photo.name = reinterpret_cast<const char*>(name);
        photo.imageId = sqlite3_column_int64(statement.get(), 1);
        const int rows = sqlite3_column_int(statement.get(), 2);
        const int cols = sqlite3_column_int(statement.get(), 3);
        const auto* keypoints =
            static_cast<const float*>(blobOf(statement.get(), 4, rows, cols, sizeof(float)));
        const int descriptorRows = sqlite3_column_int(statement.get(), 5);
        const auto* descriptors =
            static_cast<const std::uint8_t*>(blobOf(statement.get(), 7, descriptorRows, 128, 1));
        // Keypoints are x, y and then either scale and orientation or an affine shape.
        if (!keypoints || !descriptors || descriptorRows != rows ||
            sqlite3_column_int(statement.get(), 6) != 128 || (cols != 4 && cols != 6))
            return pelorin::unexpected("the feature database holds a malformed record for " +
                                       photo.name);
        for (int i = 0; i < rows; ++i) {
            const float* k = keypoints + std::size_t(i) * cols;
            photo.points.emplace_back(k[0], k[1]);
            photo.scales.push_back(cols == 4 ? k[2]
                                             : std::sqrt(std::abs(k[2] * k[5] - k[3] * k[4])));
            photo.orientations.push_back(cols == 4 ? k[3] : std::atan2(k[4], k[2]));
        }
        photo.descriptors.create(rows, 128, CV_8U);
        if (rows > 0) std::memcpy(photo.descriptors.data, descriptors, std::size_t(rows) * 128);
        photos.push_back(std::move(photo));
    }
    if (step != SQLITE_DONE)
        return pelorin::unexpected(std::string("the feature database cannot be read: ") +
                                   sqlite3_errmsg(db.get()));
    return photos;
}

pelorin::Expected<int, std::string> writeFeatures(const std::filesystem::path& database,
                                                  const std::vector<PhotoFeatures>& photos) {
    auto opened = openDatabase(database, SQLITE_OPEN_READWRITE);
    if (!opened) return pelorin::unexpected(opened.error());
    Database db = std::move(opened).value();
    Statement keypoints = prepare(db.get(),
                                  "INSERT OR REPLACE INTO keypoints SELECT image_id, ?2, 4, ?3 "
                                  "FROM images WHERE name = ?1");
    Statement descriptors = prepare(db.get(),
                                    "INSERT OR REPLACE INTO descriptors SELECT image_id, ?2, 128, "
                                    "?3 FROM images WHERE name = ?1");
    if (!keypoints || !descriptors)
        return pelorin::unexpected(std::string("the feature database has no feature tables: ") +
                                   sqlite3_errmsg(db.get()));
    std::string reason;
    auto written =
        updateEach(db.get(), photos, [&](const PhotoFeatures& photo) -> std::optional<int> {
            const std::size_t rows = photo.points.size();
            if (photo.scales.size() != rows || photo.orientations.size() != rows ||
                std::size_t(photo.descriptors.rows) != rows ||
                (rows > 0 &&
                 (photo.descriptors.cols != 128 || photo.descriptors.type() != CV_8U))) {
                reason = "the features of " + photo.name + " are malformed";
                return std::nullopt;
            }
            // x, y, scale and orientation: COLMAP makes its affine shape from them itself.
            std::vector<float> points;
            points.reserve(rows * 4);
            for (std::size_t i = 0; i < rows; ++i)
                points.insert(points.end(), {photo.points[i].x, photo.points[i].y, photo.scales[i],
                                             photo.orientations[i]});
            const cv::Mat bytes =
                photo.descriptors.isContinuous() ? photo.descriptors : photo.descriptors.clone();
            for (auto& [statement, data, size] :
                 {std::tuple{keypoints.get(), static_cast<const void*>(points.data()),
                             points.size() * sizeof(float)},
                  std::tuple{descriptors.get(), static_cast<const void*>(bytes.data),
                             rows * 128}}) {
                sqlite3_reset(statement);
                sqlite3_bind_text(statement, 1, photo.name.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(statement, 2, int(rows));
                sqlite3_bind_blob(statement, 3, size ? data : "", int(size), SQLITE_TRANSIENT);
                if (sqlite3_step(statement) != SQLITE_DONE) return std::nullopt;
                if (sqlite3_changes(db.get()) == 0) {
                    reason = "the feature database has no photo named " + photo.name;
                    return std::nullopt;
                }
            }
            return 1;
        });
    if (!written && !reason.empty()) return pelorin::unexpected(reason);
    return written;
}

std::vector<int> largestFeatureIndices(const PhotoFeatures& photo, int count) {
    const int rows =
        std::min({photo.descriptors.rows, int(photo.points.size()), int(photo.scales.size())});
    std::vector<int> order(rows);
    std::iota(order.begin(), order.end(), 0);
    const int kept = std::min(rows, std::max(0, count));
    std::partial_sort(order.begin(), order.begin() + kept, order.end(),
                      [&](int a, int b) { return photo.scales[a] > photo.scales[b]; });
    order.resize(kept);
    return order;
}

cv::Mat descriptorRows(const PhotoFeatures& photo, const std::vector<int>& rows) {
    cv::Mat picked(int(rows.size()), photo.descriptors.cols, CV_8U);
    for (std::size_t i = 0; i < rows.size(); ++i)
        photo.descriptors.row(rows[i]).copyTo(picked.row(int(i)));
    return picked;
}

PhotoFeatures largestFeatures(const PhotoFeatures& photo, int count) {
    const std::vector<int> order = largestFeatureIndices(photo, count);
    PhotoFeatures largest{.name = photo.name, .imageId = photo.imageId};
    largest.descriptors = descriptorRows(photo, order);
    for (int i : order) {
        largest.points.push_back(photo.points[i]);
        largest.scales.push_back(photo.scales[i]);
        if (std::size_t(i) < photo.orientations.size())
            largest.orientations.push_back(photo.orientations[i]);
    }
    return largest;
}

pelorin::Expected<int, std::string> writeMatches(const std::filesystem::path& database,
                                                 const std::vector<PairMatches>& pairs) {
    auto opened = openDatabase(database, SQLITE_OPEN_READWRITE);
    if (!opened) return pelorin::unexpected(opened.error());
    Database db = std::move(opened).value();
    Statement write = prepare(db.get(), "INSERT OR REPLACE INTO matches VALUES (?1, ?2, 2, ?3)");
    if (!write)
        return pelorin::unexpected(std::string("the feature database has no matches table: ") +
                                   sqlite3_errmsg(db.get()));
    return updateEach(db.get(), pairs, [&](const PairMatches& pair) -> std::optional<int> {
        // COLMAP keys a pair by its smaller image id first, the matches in that order.
        constexpr std::int64_t largestImageId = 2147483647;
        const bool swapped = pair.image1 > pair.image2;
        const std::int64_t first = swapped ? pair.image2 : pair.image1;
        const std::int64_t second = swapped ? pair.image1 : pair.image2;
        std::vector<std::uint32_t> data;
        data.reserve(pair.matches.size() * 2);
        for (const auto& [i, j] : pair.matches) {
            data.push_back(std::uint32_t(swapped ? j : i));
            data.push_back(std::uint32_t(swapped ? i : j));
        }
        sqlite3_reset(write.get());
        sqlite3_bind_int64(write.get(), 1, first * largestImageId + second);
        sqlite3_bind_int(write.get(), 2, int(pair.matches.size()));
        sqlite3_bind_blob(write.get(), 3, data.data(), int(data.size() * sizeof(std::uint32_t)),
                          SQLITE_TRANSIENT);
        if (sqlite3_step(write.get()) != SQLITE_DONE) return std::nullopt;
        return 1;
    });
}

}  // namespace pelorin::engine::local
