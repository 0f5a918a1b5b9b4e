#pragma once
// Reads a gateway's state store as an administrator would, read-only and beside the
// gateway that may be writing it: each row of `sql` as its columns joined by '|'.
#include <sqlite3.h>

#include <string>
#include <vector>

inline std::vector<std::string> StateRows(const std::string& path, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                std::string row;
                for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                    row += (i ? "|" : "") + std::string(text ? text : "");
                }
                rows.push_back(row);
            }
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
}
