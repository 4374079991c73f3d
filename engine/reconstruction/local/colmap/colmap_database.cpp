#include "engine/reconstruction/local/colmap/colmap_database.h"

#include <sqlite3.h>

#include <memory>

namespace pelorin::engine::local {

pelorin::Expected<int, std::string> setPositionPriors(
    const std::filesystem::path& database, const std::map<std::string, Vec3>& positions) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(database.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::string reason = raw ? sqlite3_errmsg(raw) : "out of memory";
        sqlite3_close(raw);
        return pelorin::unexpected("the feature database cannot be opened: " + reason);
    }
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, sqlite3_close);
    sqlite3_stmt* rawStatement = nullptr;
    if (sqlite3_prepare_v2(db.get(),
                           "UPDATE images SET prior_tx = ?1, prior_ty = ?2, prior_tz = ?3 "
                           "WHERE name = ?4",
                           -1, &rawStatement, nullptr) != SQLITE_OK)
        return pelorin::unexpected(std::string("the feature database has no image priors: ") +
                                   sqlite3_errmsg(db.get()));
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(rawStatement,
                                                                         sqlite3_finalize);
    sqlite3_exec(db.get(), "BEGIN", nullptr, nullptr, nullptr);
    int updated = 0;
    for (const auto& [name, position] : positions) {
        sqlite3_reset(statement.get());
        for (int i = 0; i < 3; ++i) sqlite3_bind_double(statement.get(), i + 1, position[i]);
        sqlite3_bind_text(statement.get(), 4, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(statement.get()) != SQLITE_DONE) {
            sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            return pelorin::unexpected(std::string("the feature database cannot be written: ") +
                                       sqlite3_errmsg(db.get()));
        }
        updated += sqlite3_changes(db.get());
    }
    if (sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return pelorin::unexpected(std::string("the feature database cannot be written: ") +
                                   sqlite3_errmsg(db.get()));
    return updated;
}

}  // namespace pelorin::engine::local
