#pragma once
// Thin owners of unixODBC handles for CAdoDatabase. Statement text crosses the ODBC
// boundary as UTF-8 through the narrow entry points: the driver manager then hands it to
// the driver unchanged (its own wide-to-narrow mapping is Latin-1 and would corrupt other
// text). Bound text values go as UTF-16 (SQL_C_WCHAR), which every driver converts itself.
// Every failure is thrown as CDbError with the driver's diagnostic records.
#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct SqlCommand;

// One ODBC environment and connection handle, connected or not.
class CDbConnection {
public:
    CDbConnection();  // throws CDbError when the handles cannot be allocated
    ~CDbConnection();
    CDbConnection(const CDbConnection&) = delete;
    CDbConnection& operator=(const CDbConnection&) = delete;

    // Login time-out in seconds; a driver that has no such option is accepted.
    void SetLoginTimeout(unsigned seconds);
    // A text with '=' is a connection string; anything else names a data source.
    // Options that make the driver stream rows are added.
    void Connect(const std::string& connect, const std::string& user, const std::string& password);
    bool IsConnected() const { return m_bConnected; }
    SQLHDBC Handle() const { return m_hDbc; }
    // The database product as the driver names it ("SQLite", "PostgreSQL"); "" when unknown.
    std::string DbmsName() const;

private:
    SQLHENV m_hEnv = SQL_NULL_HENV;
    SQLHDBC m_hDbc = SQL_NULL_HDBC;
    bool m_bConnected = false;
};

// One statement on a connection, kept alive by it.
class CDbStatement {
public:
    CDbStatement(std::shared_ptr<CDbConnection> connection, unsigned queryTimeoutSeconds);
    ~CDbStatement();
    CDbStatement(const CDbStatement&) = delete;
    CDbStatement& operator=(const CDbStatement&) = delete;

    void Execute(const std::string& sql);
    // Binds the command's values to its markers, text as UTF-16 (SQL_WVARCHAR), a bare whole
    // number as SQL_BIGINT, and runs it.
    void Execute(const SqlCommand& command);
    // Rows the last executed insert, update or delete changed; -1 when the driver cannot tell.
    long RowsChanged();
    // Names of the result columns, in column order; empty when the statement returned no rows.
    std::vector<std::string> ColumnNames();
    // Moves to the next row; false past the last one.
    bool Fetch();
    // The column's value in the current row as text; nullopt for SQL NULL.
    std::optional<std::string> GetText(SQLUSMALLINT column);

private:
    std::shared_ptr<CDbConnection> m_connection;
    SQLHSTMT m_hStmt = SQL_NULL_HSTMT;
};

// Throws CDbError built from the diagnostic records of the handle.
[[noreturn]] void ThrowDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const char* what);
