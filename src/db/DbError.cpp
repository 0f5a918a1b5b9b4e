#include "db/DbError.h"

#include <cstdio>

namespace {

std::string Message(std::int32_t code, const std::string& description) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "database error 0x%08x", static_cast<unsigned>(code));
    return description.empty() ? std::string(prefix) : std::string(prefix) + ": " + description;
}

}  // namespace

CDbError::CDbError(std::int32_t code, const std::string& description,
                   std::vector<std::string> sqlStates, int nativeError)
    : std::runtime_error(Message(code, description)),
      m_hrCode(code),
      m_strDescription(description),
      m_sqlStates(std::move(sqlStates)),
      m_nNativeError(nativeError) {}

bool CDbError::IsDuplicateKey() const {
    bool constraintState = false;
    for (const std::string& state : m_sqlStates) {
        if (state == "23505") return true;  // unique_violation (PostgreSQL and others)
        if (state.size() == 5 && state.compare(0, 2, "23") == 0) constraintState = true;
    }
    // MySQL and MariaDB: ER_DUP_ENTRY under the general state 23000.
    if (m_nNativeError == 1062 && constraintState) return true;
    // A driver that names another constraint violation has said what it is; the texts below
    // would then only be matched inside the row's values, which the description may quote.
    if (constraintState) return false;
    // SQLite reports every constraint as HY000; its texts name only tables and columns.
    if (m_strDescription.find("UNIQUE constraint failed") != std::string::npos) return true;
    if (m_strDescription.find("PRIMARY KEY must be unique") != std::string::npos) return true;
    // Errors without a driver state (not from ODBC) keep the provider's words.
    return m_sqlStates.empty() && m_strDescription.find("duplicate key") != std::string::npos;
}
