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
    if (m_strDescription.find("duplicate key") != std::string::npos) return true;
    if (m_strDescription.find("UNIQUE constraint failed") != std::string::npos) return true;
    for (const std::string& state : m_sqlStates) {
        if (state.size() == 5 && state.compare(0, 2, "23") == 0) return true;
    }
    return false;
}
