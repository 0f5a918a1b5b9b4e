#include "db/Odbc.h"

#include "db/DbError.h"

#include <sqlucode.h>

namespace {

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Braces make a value safe inside a connection string; a '}' inside is doubled.
std::string BraceValue(const std::string& value) {
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

// The SQLSTATE of the handle's first diagnostic record, or "".
std::string FirstState(SQLSMALLINT handleType, SQLHANDLE handle) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLWCHAR message[8];
    if (!Succeeded(SQLGetDiagRecW(handleType, handle, 1, state, &native, message, 8, &length))) return {};
    return WideToUtf8(state, 5);
}

}  // namespace

WideText Utf8ToWide(const std::string& text) {
    WideText out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        char32_t cp = 0xFFFD;
        int extra = 0;
        unsigned char b = *p;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F, extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F, extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07, extra = 3;
        }
        ++p;
        bool valid = (b < 0x80) || extra > 0;
        for (int i = 0; i < extra; ++i) {
            if (p >= end || (*p & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (*p++ & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<SQLWCHAR>(0xD800 + (cp >> 10));
            out += static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<SQLWCHAR>(cp);
        }
    }
    return out;
}

std::string WideToUtf8(const SQLWCHAR* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // a lone surrogate
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

void ThrowDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const char* what) {
    std::string description;
    std::vector<std::string> states;
    int firstNative = 0;
    for (SQLSMALLINT record = 1; handle != SQL_NULL_HANDLE; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        std::vector<SQLWCHAR> message(1024);
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, state, &native, message.data(),
                                      static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            message.resize(static_cast<size_t>(length) + 1);
            rc = SQLGetDiagRecW(handleType, handle, record, state, &native, message.data(),
                                static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!Succeeded(rc)) break;
        std::string sqlState = WideToUtf8(state, 5);
        size_t textLength = std::min<size_t>(static_cast<size_t>(length), message.size() - 1);
        std::string text = WideToUtf8(message.data(), textLength);
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
    SQLRETURN rc = SQLSetConnectAttrW(m_hDbc, SQL_ATTR_LOGIN_TIMEOUT,
                                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
    if (!Succeeded(rc) && FirstState(SQL_HANDLE_DBC, m_hDbc) != "HYC00") {
        ThrowDiagnostics(SQL_HANDLE_DBC, m_hDbc, "setting the login time-out");
    }
}

void CDbConnection::Connect(const std::string& connect, const std::string& user, const std::string& password) {
    SQLRETURN rc;
    if (connect.find('=') != std::string::npos) {
        std::string text = connect;
        if (!text.empty() && text.back() != ';') text += ';';
        if (!user.empty()) text += "UID=" + BraceValue(user) + ";";
        if (!password.empty()) text += "PWD=" + BraceValue(password) + ";";
        WideText wide = Utf8ToWide(text);
        SQLWCHAR out[1024];
        SQLSMALLINT outLength = 0;
        rc = SQLDriverConnectW(m_hDbc, nullptr, wide.data(), static_cast<SQLSMALLINT>(wide.size()), out,
                               1024, &outLength, SQL_DRIVER_NOPROMPT);
    } else {
        WideText dsn = Utf8ToWide(connect);
        WideText uid = Utf8ToWide(user);
        WideText pwd = Utf8ToWide(password);
        rc = SQLConnectW(m_hDbc, dsn.data(), static_cast<SQLSMALLINT>(dsn.size()), uid.data(),
                         static_cast<SQLSMALLINT>(uid.size()), pwd.data(), static_cast<SQLSMALLINT>(pwd.size()));
    }
    if (!Succeeded(rc)) ThrowDiagnostics(SQL_HANDLE_DBC, m_hDbc, "connecting");
    m_bConnected = true;
}

CDbStatement::CDbStatement(std::shared_ptr<CDbConnection> connection, unsigned queryTimeoutSeconds)
    : m_connection(std::move(connection)) {
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, m_connection->Handle(), &m_hStmt))) {
        m_hStmt = SQL_NULL_HSTMT;
        ThrowDiagnostics(SQL_HANDLE_DBC, m_connection->Handle(), "allocating a statement");
    }
    // Not every driver can cancel a statement after a time; a refusal leaves it without one.
    SQLSetStmtAttrW(m_hStmt, SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(queryTimeoutSeconds)), 0);
}

CDbStatement::~CDbStatement() {
    if (m_hStmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
}

void CDbStatement::Execute(const std::string& sql) {
    WideText wide = Utf8ToWide(sql);
    SQLRETURN rc = SQLExecDirectW(m_hStmt, wide.data(), static_cast<SQLINTEGER>(wide.size()));
    // SQL_NO_DATA: an update or delete that matched no row, which is not a failure.
    if (!Succeeded(rc) && rc != SQL_NO_DATA) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "executing");
}

std::vector<std::string> CDbStatement::ColumnNames() {
    SQLSMALLINT count = 0;
    if (!Succeeded(SQLNumResultCols(m_hStmt, &count))) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "counting columns");
    std::vector<std::string> names;
    for (SQLSMALLINT column = 1; column <= count; ++column) {
        SQLWCHAR name[256];
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLRETURN rc = SQLDescribeColW(m_hStmt, static_cast<SQLUSMALLINT>(column), name, 256, &length, &type, &size,
                                       &digits, &nullable);
        if (!Succeeded(rc)) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "describing a column");
        names.push_back(WideToUtf8(name, std::min<size_t>(static_cast<size_t>(length), 255)));
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
    constexpr size_t kChars = 512;
    SQLWCHAR buffer[kChars];
    WideText value;
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc = SQLGetData(m_hStmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA) break;  // the whole value has been read
        if (!Succeeded(rc)) ThrowDiagnostics(SQL_HANDLE_STMT, m_hStmt, "reading a column");
        if (indicator == SQL_NULL_DATA) return std::nullopt;
        size_t available = (indicator == SQL_NO_TOTAL) ? kChars - 1
                                                      : static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
        if (rc == SQL_SUCCESS_WITH_INFO && available >= kChars - 1) {
            value.append(buffer, kChars - 1);  // truncated piece: more follows
            continue;
        }
        value.append(buffer, std::min(available, kChars - 1));
        break;
    }
    return WideToUtf8(value.data(), value.size());
}
