#pragma once
// A prepared statement of the state store, private to the store's own files.
#include "state/StateStore.h"

#include <sqlite3.h>

#include <string>

// One prepared statement; values are bound in order, texts with their length, so any
// byte (a NUL of a data message included) is kept as it is.
class CStateStore::Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (db) sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Text(const std::string& value) {
        sqlite3_bind_text(m_stmt, ++m_nBound, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Int(long long value) {
        sqlite3_bind_int64(m_stmt, ++m_nBound, value);
        return *this;
    }
    bool Row() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_ROW; }
    bool Run() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_DONE; }
    std::string TextAt(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
    }
    long long IntAt(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_nBound = 0;
};

