#pragma once
// The one error type of the database layer: a 32-bit result code and the driver's
// description. Every caller of CAdoDatabase catches this type.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Result codes carried by CDbError (HRESULT values, negative = failure).
inline constexpr std::int32_t DB_S_OK = 0;
inline constexpr std::int32_t DB_E_POINTER = static_cast<std::int32_t>(0x80004003u);
inline constexpr std::int32_t DB_E_FAIL = static_cast<std::int32_t>(0x80004005u);

class CDbError : public std::runtime_error {
public:
    // sqlStates: the SQLSTATE of each diagnostic record, first record first.
    CDbError(std::int32_t code, const std::string& description,
             std::vector<std::string> sqlStates = {}, int nativeError = 0);

    std::int32_t Error() const { return m_hrCode; }
    // The driver's text: one "[SQLSTATE] message" per diagnostic record, joined by "; ".
    const std::string& Description() const { return m_strDescription; }
    // The first record's SQLSTATE, or "" when the error did not come from the driver.
    std::string SqlState() const { return m_sqlStates.empty() ? std::string() : m_sqlStates.front(); }
    const std::vector<std::string>& SqlStates() const { return m_sqlStates; }
    int NativeError() const { return m_nNativeError; }

    // True when the statement failed only because the row's unique or primary key already
    // exists: SQLSTATE 23505, MySQL's native 1062, SQLite's "UNIQUE constraint failed" /
    // "PRIMARY KEY must be unique". Any other constraint violation (NOT NULL, CHECK, foreign
    // key) is not a duplicate.
    bool IsDuplicateKey() const;

private:
    std::int32_t m_hrCode;
    std::string m_strDescription;
    std::vector<std::string> m_sqlStates;
    int m_nNativeError;
};
