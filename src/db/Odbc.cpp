#include "db/Odbc.h"

#include "db/DbError.h"
#include "db/SqlCommand.h"

#include <strings.h>

#include <algorithm>

namespace {

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

SQLCHAR* Text(const std::string& text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())); }

// A connection-string value; one with a separator or brace is braced, a '}' inside doubled.
// Plain values stay plain: not every driver removes the braces.
std::string ConnectValue(const std::string& value) {
    if (value.empty()) return value;
    if (value.find_first_of(";{}=") == std::string::npos && value.front() != ' ' && value.back() != ' ') return value;
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

// Whether a connection string sets the keyword (keywords are not case-sensitive).
bool HasKeyword(const std::string& text, const std::string& keyword) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        size_t eq = text.find('=', start);
        if (eq < end) {
            std::string key = text.substr(start, eq - start);
            key.erase(0, key.find_first_not_of(' '));
            key.erase(key.find_last_not_of(' ') + 1);
            if (::strcasecmp(key.c_str(), keyword.c_str()) == 0) return true;
            // A braced value may hold ';': skip to its closing brace.
            size_t value = text.find_first_not_of(' ', eq + 1);
            if (value != std::string::npos && text[value] == '{') {
                size_t close = value + 1;
                while ((close = text.find('}', close)) != std::string::npos && close + 1 < text.size() &&
                       text[close + 1] == '}') {
                    close += 2;
                }
                if (close == std::string::npos) return false;
                end = text.find(';', close);
                if (end == std::string::npos) end = text.size();
            }
        }
        start = end + 1;
    }
    return false;
}

// The SQLSTATE of the handle's first diagnostic record, or "".
std::string FirstState(SQLSMALLINT handleType, SQLHANDLE handle) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLCHAR message[8];
    if (!Succeeded(SQLGetDiagRec(handleType, handle, 1, state, &native, message, sizeof message, &length))) return {};
    return reinterpret_cast<char*>(state);
}

// UTF-8 as UTF-16 code units, characters above U+FFFF as surrogate pairs. A byte that
// starts no valid sequence stands for the character of the same value (Latin-1), so no
// input is refused or dropped.
std::vector<SQLWCHAR> Utf16(const std::string& text) {
    std::vector<SQLWCHAR> out;
    out.reserve(text.size() + 1);
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = s[i];
        size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        char32_t code = length == 1 ? c : length == 2 ? (c & 0x1F) : length == 3 ? (c & 0x0F) : (c & 0x07);
        bool valid = length > 0 && i + length <= n;
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (s[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (s[i + k] & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || code < kLeast[length] || code > 0x10FFFF) {
            out.push_back(static_cast<SQLWCHAR>(c));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<SQLWCHAR>(0xD800 + (code >> 10)));
            out.push_back(static_cast<SQLWCHAR>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<SQLWCHAR>(code));
        }
        i += length;
    }
    return out;
}

// A bare value the statement takes as a number: an optional '-' and 1 to 18 digits.
bool WholeNumber(const std::string& text) {
    const size_t digits = text.size() - (!text.empty() && text[0] == '-' ? 1 : 0);
    return digits >= 1 && digits <= 18 &&
           text.find_first_not_of("0123456789", text.size() - digits) == std::string::npos;
}

}  // namespace

void ThrowDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const char* what) {
    std::string description;
    std::vector<std::string> states;
    int firstNative = 0;
    for (SQLSMALLINT record = 1; handle != SQL_NULL_HANDLE; ++record) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        std::vector<SQLCHAR> message(1024);
        SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &native, message.data(),
                                     static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            message.resize(static_cast<size_t>(length) + 1);
            rc = SQLGetDiagRec(handleType, handle, record, state, &native, message.data(),
                               static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!Succeeded(rc)) break;
        std::string sqlState = reinterpret_cast<char*>(state);
        size_t textLength = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1);
        std::string text(reinterpret_cast<char*>(message.data()), textLength);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (!description.empty()) description += "; ";
        description += "[" + sqlState + "] " + text;
        if (states.empty()) firstNative = native;
        states.push_back(sqlState);
    }
    if (description.empty()) description = std::string(what) + " failed without a diagnostic record";
    throw CDbError(DB_E_FAIL, description, std::move(states), firstNative);
}

CDbConnection::CDbConnection() {
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_hEnv))) {
        m_hEnv = SQL_NULL_HENV;
        throw CDbError(DB_E_FAIL, "cannot allocate an ODBC environment");
    }
    SQLRETURN rc = SQLSetEnvAttr(m_hEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (Succeeded(rc)) rc = SQLAllocHandle(SQL_HANDLE_DBC, m_hEnv, &m_hDbc);
    if (!Succeeded(rc)) {
        m_hDbc = SQL_NULL_HDBC;
        SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
        m_hEnv = SQL_NULL_HENV;
        throw CDbError(DB_E_FAIL, "cannot allocate an ODBC connection");
    }
}

CDbConnection::~CDbConnection() {
    // Errors while letting go (a connection the server already dropped) are of no use here.
    if (m_bConnected) SQLDisconnect(m_hDbc);
    if (m_hDbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
    if (m_hEnv != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
}

void CDbConnection::SetLoginTimeout(unsigned seconds) {
    SQLRETURN rc = SQLSetConnectAttr(m_hDbc, SQL_ATTR_LOGIN_TIMEOUT,
                                     reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
    if (!Succeeded(rc) && FirstState(SQL_HANDLE_DBC, m_hDbc) != "HYC00") {
        ThrowDiagnostics(SQL_HANDLE_DBC, m_hDbc, "setting the login time-out");
    }
}

void CDbConnection::Connect(const std::string& connect, const std::string& user, const std::string& password) {
    std::string text = connect.find('=') != std::string::npos ? connect : "DSN=" + ConnectValue(connect);
    if (!text.empty() && text.back() != ';') text += ';';
    // Rows must come from the cursor one at a time, not be loaded whole by the driver:
    // libsqliteodbc does that with StepAPI, psqlODBC with UseDeclareFetch. A driver
    // ignores keywords it does not know; a connection string that sets one keeps its value.
    for (const char* keyword : {"StepAPI", "UseDeclareFetch"}) {
        if (!HasKeyword(text, keyword)) text += std::string(keyword) + "=1;";
    }
    if (!user.empty()) text += "UID=" + ConnectValue(user) + ";";
    if (!password.empty()) text += "PWD=" + ConnectValue(password) + ";";
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    SQLRETURN rc =
        SQLDriverConnect(m_hDbc, nullptr, Text(text), SQL_NTS, out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT);
    if (!Succeeded(rc)) ThrowDiagnostics(SQL_HANDLE_DBC, m_hDbc, "connecting");
    m_bConnected = true;
}

std::string CDbConnection::DbmsName() const {
    SQLCHAR name[128] = {};
    SQLSMALLINT length = 0;
    if (!Succeeded(SQLGetInfo(m_hDbc, SQL_DBMS_NAME, name, sizeof name, &length))) return {};
    return std::string(reinterpret_cast<char*>(name), std::clamp<SQLSMALLINT>(length, 0, sizeof name - 1));
}

CDbStatement::CDbStatement(std::shared_ptr<CDbConnection> connection, unsigned queryTimeoutSeconds)
    : m_connection(std::move(connection)) {
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, m_connection->Handle(), &m_hStmt))) {
        m_hStmt = SQL_NULL_HSTMT;
        ThrowDiagnostics(SQL_HANDLE_DBC, m_connection->Handle(), "allocating a statement");
    }
    // Not every driver can cancel a statement after a time; a refusal leaves it without one.
    SQLSetStmtAttr(m_hStmt, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(queryTimeoutSeconds)), 0);
}

CDbStatement::~CDbStatement() {
    if (m_hStmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
}

void CDbStatement::Execute(const std::string& sql) {
    SQLRETURN rc = SQLExecDirect(m_hStmt, Text(sql), static_cast<SQLINTEGER>(sql.size()));
    // SQL_NO_DATA: an update or delete that matched no row, which is not a failure.
    if (!Succeeded(rc) && rc != SQL_NO_DATA) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "executing");
}

void CDbStatement::Execute(const SqlCommand& command) {
    if (command.values.empty()) return Execute(command.sql);
    // Bound, then run directly: a prepared statement would cost the server a round trip to
    // prepare it and another to deallocate it (psqlODBC), for a statement run once.
    SQLRETURN rc = SQL_SUCCESS;
    // The buffers must live until the statement has run.
    std::vector<std::vector<SQLWCHAR>> texts(command.values.size());
    std::vector<SQLLEN> lengths(command.values.size());
    for (size_t k = 0; k < command.values.size(); ++k) {
        const SqlCommand::Value& value = command.values[k];
        const auto number = static_cast<SQLUSMALLINT>(k + 1);
        if (!value.quoted && WholeNumber(value.text)) {
            lengths[k] = static_cast<SQLLEN>(value.text.size());
            rc = SQLBindParameter(m_hStmt, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_BIGINT, 20, 0,
                                  Text(value.text), lengths[k], &lengths[k]);
        } else {
            texts[k] = Utf16(value.text);
            const size_t units = texts[k].size();
            texts[k].push_back(0);
            lengths[k] = static_cast<SQLLEN>(units * sizeof(SQLWCHAR));
            rc = SQLBindParameter(m_hStmt, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                                  std::max<SQLULEN>(units, 1), 0, texts[k].data(), lengths[k], &lengths[k]);
        }
        if (!Succeeded(rc)) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "binding a value");
    }
    Execute(command.sql);
}

long CDbStatement::RowsChanged() {
    SQLLEN rows = -1;
    if (!Succeeded(SQLRowCount(m_hStmt, &rows))) return -1;
    return static_cast<long>(rows);
}

std::vector<std::string> CDbStatement::ColumnNames() {
    SQLSMALLINT count = 0;
    if (!Succeeded(SQLNumResultCols(m_hStmt, &count))) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "counting columns");
    std::vector<std::string> names;
    for (SQLSMALLINT column = 1; column <= count; ++column) {
        SQLCHAR name[256];
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLRETURN rc = SQLDescribeCol(m_hStmt, static_cast<SQLUSMALLINT>(column), name, sizeof name, &length, &type,
                                      &size, &digits, &nullable);
        if (!Succeeded(rc)) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "describing a column");
        names.emplace_back(reinterpret_cast<char*>(name), std::clamp<SQLSMALLINT>(length, 0, sizeof name - 1));
    }
    return names;
}

bool CDbStatement::Fetch() {
    SQLRETURN rc = SQLFetch(m_hStmt);
    if (rc == SQL_NO_DATA) return false;
    if (!Succeeded(rc)) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "fetching a row");
    return true;
}

std::optional<std::string> CDbStatement::GetText(SQLUSMALLINT column) {
    // Read in pieces: each piece is the buffer less its terminating zero.
    char buffer[1024];
    constexpr size_t kPiece = sizeof buffer - 1;
    std::string value;
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc = SQLGetData(m_hStmt, column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA) break;  // the whole value has been read
        if (!Succeeded(rc)) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "reading a column");
        if (indicator == SQL_NULL_DATA) return std::nullopt;
        size_t available = indicator == SQL_NO_TOTAL ? kPiece : static_cast<size_t>(indicator);
        value.append(buffer, std::min(available, kPiece));
        if (rc == SQL_SUCCESS || available <= kPiece) break;
    }
    return value;
}
