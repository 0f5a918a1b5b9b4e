#include "db/AdoDatabase.h"

#include "db/Odbc.h"
#include "db/Recordset.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace {

// Guards the connection, the process-wide values and the recordsets.
std::recursive_mutex& ConnectionLock() {
    static std::recursive_mutex lock;
    return lock;
}

// Who goes first to the database. The engine's statements go before those of private
// connections: a private statement starts only while none of the engine's is under way or
// waiting, and the engine waits at most for the one private statement already running.
// Two connections of one process would otherwise meet in the database's locks; on SQLite,
// which locks the whole file, the loser sleeps in the driver's busy handler, and a stream of
// inserts from the HTTP interface held the outbox cycle back.
class Turns {
public:
    static Turns& Instance() {
        static Turns turns;
        return turns;
    }
    void EngineEnter() {
        std::unique_lock lock(m_mutex);
        ++m_nEngine;
        m_changed.wait(lock, [this] { return !m_bPrivate; });
    }
    void EngineLeave() {
        std::lock_guard lock(m_mutex);
        if (--m_nEngine == 0) m_changed.notify_all();
    }
    void PrivateEnter() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_nEngine == 0 && !m_bPrivate; });
        m_bPrivate = true;
    }
    void PrivateLeave() {
        std::lock_guard lock(m_mutex);
        m_bPrivate = false;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_nEngine = 0;  // engine statements running or waiting
    bool m_bPrivate = false;
};

// A turn for one scope: the engine's taken before the connection's lock.
class Turn {
public:
    enum Whose { Engine, Private };
    explicit Turn(Whose whose) : m_whose(whose) {
        whose == Engine ? Turns::Instance().EngineEnter() : Turns::Instance().PrivateEnter();
    }
    ~Turn() { m_whose == Engine ? Turns::Instance().EngineLeave() : Turns::Instance().PrivateLeave(); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

private:
    const Whose m_whose;
};

// Whether the statement has the word "returning" outside its quoted texts, names and comments.
bool HasReturning(const std::string& sql) {
    for (std::size_t i = 0; i < sql.size();) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || c == '`') {
            const std::size_t end = sql.find(c, i + 1);  // a doubled quote is two quoted parts
            i = end == std::string::npos ? sql.size() : end + 1;
        } else if (sql.compare(i, 2, "--") == 0) {
            i = std::min(sql.find('\n', i), sql.size());
        } else if (sql.compare(i, 2, "/*") == 0) {
            const std::size_t end = sql.find("*/", i + 2);
            i = end == std::string::npos ? sql.size() : end + 2;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
            std::size_t end = i;
            while (end < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[end])) || sql[end] == '_')) ++end;
            std::string word = sql.substr(i, end - i);
            for (char& w : word) w = static_cast<char>(std::tolower(static_cast<unsigned char>(w)));
            if (word == "returning") return true;
            i = end;
        } else {
            ++i;
        }
    }
    return false;
}

// libsqliteodbc reads rows only from statements that do not begin with insert, update or
// delete, and drops what their "returning" clause gives. An empty common table expression
// in front, which SQLite takes before any of the three, has it read them. Only then: the
// driver never runs such a statement when it gives no rows to read.
SqlCommand WithRowsRead(const std::shared_ptr<CDbConnection>& connection, const SqlCommand& command) {
    const std::size_t first = command.sql.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || connection->DbmsName().rfind("SQLite", 0) != 0) return command;
    std::string keyword = command.sql.substr(first, 6);
    for (char& c : keyword) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (keyword != "insert" && keyword != "update" && keyword != "delete") return command;
    if (!HasReturning(command.sql)) return command;
    static const std::string prefix = "with pellwick_rows as (select 1) ";
    SqlCommand read = command;
    read.sql.insert(0, prefix);
    for (std::size_t& marker : read.markers) marker += prefix.size();
    return read;
}

std::optional<std::string> RunOnce(const std::shared_ptr<CDbConnection>& connection, const SqlCommand& command) {
    CDbStatement statement(connection, CAdoDatabase::TIMEOUT_SECONDS);
    statement.Execute(WithRowsRead(connection, command));
    if (statement.ColumnNames().empty() || !statement.Fetch()) return std::nullopt;
    return statement.GetText(1).value_or(std::string());
}

}  // namespace

std::string CAdoDatabase::s_strConnect;
std::shared_ptr<CDbConnection> CAdoDatabase::s_pConnection;
int CAdoDatabase::s_bConnected = 0;

CAdoDatabase::CAdoDatabase() = default;

CAdoDatabase::~CAdoDatabase() {
    std::lock_guard lock(ConnectionLock());
    DropRows();
    m_strPassword.clear();
    m_strUser.clear();
}

void CAdoDatabase::SetDataSource(const std::string& connect) {
    std::lock_guard lock(ConnectionLock());
    s_strConnect = connect;
}

int CAdoDatabase::OpenDatabase() {
    Turn turn(Turn::Engine);
    std::lock_guard lock(ConnectionLock());
    try {
        // Every open starts from new handles.
        if (s_pConnection) CloseDatabase();
        try {
            s_pConnection = std::make_shared<CDbConnection>();
            m_hrLast = DB_S_OK;
        } catch (const CDbError& e) {
            m_hrLast = e.Error();
            s_bConnected = 0;
        }
        if (!s_pConnection) throw CDbError(DB_E_POINTER, "no database connection object");
        s_pConnection->SetLoginTimeout(TIMEOUT_SECONDS);
        try {
            s_pConnection->Connect(s_strConnect, m_strUser, m_strPassword);
            m_hrLast = DB_S_OK;
            s_bConnected = 1;
        } catch (const CDbError& e) {
            m_hrLast = e.Error();
            throw;
        }
        return s_bConnected;
    } catch (...) {
        s_bConnected = 0;
        throw;
    }
}

int CAdoDatabase::CloseDatabase() {
    std::lock_guard lock(ConnectionLock());
    if (!s_pConnection) return 1;
    DropRows();
    s_pConnection.reset();  // the last owner disconnects
    s_bConnected = 0;
    return 1;
}

bool CAdoDatabase::Connected() {
    if (!s_bConnected) OpenDatabase();
    return s_bConnected != 0;
}

int CAdoDatabase::ExecuteSql(const SqlCommand& command) {
    try {
        return ExecuteChange(command) < 0 ? 0 : 1;
    } catch (const CDbError& e) {
        // The row exists already: the connection is sound, nothing to retry.
        if (e.IsDuplicateKey()) return DUPLICATE_KEY;
        throw;
    }
}

long CAdoDatabase::ExecuteChange(const SqlCommand& command) {
    Turn turn(Turn::Engine);
    std::lock_guard lock(ConnectionLock());
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (!Connected()) return -1;
            CDbStatement statement(s_pConnection, TIMEOUT_SECONDS);
            statement.Execute(command);
            return std::max(0L, statement.RowsChanged());
        } catch (const CDbError& e) {
            if (e.IsDuplicateKey()) throw;
            s_bConnected = 0;
            if (attempt == 1) throw;
        }
    }
    return -1;
}

std::optional<std::string> CAdoDatabase::ExecuteOnce(const SqlCommand& command) {
    Turn turn(Turn::Engine);
    std::lock_guard lock(ConnectionLock());
    try {
        if (!Connected()) throw CDbError(DB_E_FAIL, "no database connection");
        return RunOnce(s_pConnection, command);
    } catch (const CDbError& e) {
        if (!e.IsDuplicateKey()) s_bConnected = 0;
        throw;
    }
}

int CAdoDatabase::OpenQuery(const std::string& sql) {
    Turn turn(Turn::Engine);
    std::lock_guard lock(ConnectionLock());
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (!Connected()) return 0;
            // The old rows go first: their cursor is of no further use and may hold locks.
            DropRows();
            m_pRecordset = std::make_unique<CDbRecordset>(s_pConnection, sql, TIMEOUT_SECONDS);
            // The cursor's read lock would stop a private statement's write: the engine
            // keeps its turn until the rows are dropped.
            Turns::Instance().EngineEnter();
            m_bQueryTurn = true;
            return 1;
        } catch (const CDbError&) {
            s_bConnected = 0;
        }
    }
    return 0;
}

void CAdoDatabase::CloseQuery() {
    std::lock_guard lock(ConnectionLock());
    DropRows();
}

void CAdoDatabase::DropRows() {
    m_pRecordset.reset();
    if (m_bQueryTurn) Turns::Instance().EngineLeave();
    m_bQueryTurn = false;
}

const CDbRecordset& CAdoDatabase::Rows() const {
    if (!m_pRecordset) throw CDbError(DB_E_POINTER, "no rows: no query has been opened");
    return *m_pRecordset;
}

int CAdoDatabase::IsEof() {
    std::lock_guard lock(ConnectionLock());
    return Rows().IsEof() ? 1 : 0;
}

int CAdoDatabase::MoveNext() {
    std::lock_guard lock(ConnectionLock());
    Rows();
    m_pRecordset->MoveNext();
    return 1;
}

std::string CAdoDatabase::GetFieldString(const std::string& column) {
    std::lock_guard lock(ConnectionLock());
    const auto& value = Rows().Field(column);
    return value ? *value : std::string();
}

int CAdoDatabase::GetFieldInt(const std::string& column) {
    std::lock_guard lock(ConnectionLock());
    const auto& value = Rows().Field(column);
    if (!value) return 0;
    const std::string& text = *value;
    // Whole numbers of any width (INTEGER on SQLite, BIGINT counts on PostgreSQL).
    long long whole = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
    if (ec == std::errc() && end == text.data() + text.size()) return static_cast<int>(whole);
    // Decimal and floating values keep their integer part.
    double number = 0;
    auto [dend, dec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (dec == std::errc() && dend == text.data() + text.size() && std::isfinite(number) &&
        std::fabs(number) < 2147483648.0) {
        return static_cast<int>(number);
    }
    throw CDbError(DB_E_FAIL, "column \"" + column + "\" does not hold an integer: \"" + text + "\"");
}

void CPrivateDbConnection::SetLogin(const std::string& connect, const std::string& user, const std::string& password) {
    if (connect == m_strConnect && user == m_strUser && password == m_strPassword) return;
    m_strConnect = connect;
    m_strUser = user;
    m_strPassword = password;
    m_connection.reset();
}

std::optional<std::string> CPrivateDbConnection::ExecuteOnce(const SqlCommand& command) {
    Turn turn(Turn::Private);
    try {
        if (!m_connection) {
            auto connection = std::make_shared<CDbConnection>();
            connection->SetLoginTimeout(CAdoDatabase::TIMEOUT_SECONDS);
            connection->Connect(m_strConnect, m_strUser, m_strPassword);
            m_connection = std::move(connection);
        }
        return RunOnce(m_connection, command);
    } catch (const CDbError& e) {
        if (!e.IsDuplicateKey()) m_connection.reset();
        throw;
    }
}
