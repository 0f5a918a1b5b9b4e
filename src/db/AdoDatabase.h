#pragma once
// The engine's only way to its database: one ODBC connection shared by the process,
// SQL text run with a reconnect-and-retry, and the rows of the last query read by
// column name. Failures come back as return codes, as 99 for a duplicate key, or as
// a thrown CDbError.
//
// Every operation holds one process-wide lock while it uses the connection, so the
// final close from the user-interface thread waits for a worker call in progress.
#include "db/DbError.h"
#include "db/SqlCommand.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class CDbConnection;
class CDbRecordset;

class CAdoDatabase {
public:
    // The value of ExecuteSql for an insert whose key already exists.
    static constexpr int DUPLICATE_KEY = 99;
    // Seconds allowed for logging in and for each statement.
    static constexpr unsigned TIMEOUT_SECONDS = 10;

    // Shared by every CAdoDatabase of the process.
    static std::string s_strConnect;                    // data source name or connection string
    static std::shared_ptr<CDbConnection> s_pConnection;  // the open connection, or none
    static int s_bConnected;                            // 1 while the connection is believed open

    std::string m_strPassword;
    std::string m_strUser;
    std::int32_t m_hrLast = DB_S_OK;  // result of the last creation or open of the connection
    std::unique_ptr<CDbRecordset> m_pRecordset;  // rows of the last successful OpenQuery

    CAdoDatabase();
    virtual ~CAdoDatabase();
    CAdoDatabase(const CAdoDatabase&) = delete;
    CAdoDatabase& operator=(const CAdoDatabase&) = delete;

    void SetDataSource(const std::string& connect);
    // 1 when open; throws CDbError on any failure (s_bConnected is then 0).
    int OpenDatabase();
    // Drops the rows and the connection; always 1.
    int CloseDatabase();
    // 1 done, 0 no connection, 99 duplicate key; throws when the second attempt fails.
    int ExecuteSql(const SqlCommand& command);
    // The rows the statement changed (0 when the driver cannot tell), -1 without a
    // connection. The command's values are bound, never written into its text. Retried once
    // on a new connection, as ExecuteSql; every error, a duplicate key too, throws.
    long ExecuteChange(const SqlCommand& command);
    // Runs a statement that may return rows (an insert with "returning") exactly once: never
    // retried, since a retry could insert twice. The first column of its first row (NULL
    // gives ""), nullopt when it returns none. Throws CDbError on any failure, no connection too.
    std::optional<std::string> ExecuteOnce(const SqlCommand& command);
    // 1 rows available, 0 failed twice or no connection; never throws.
    int OpenQuery(const std::string& sql);
    // Drops the rows of the last query. An open cursor holds a read lock on some
    // databases (SQLite), which would keep other programs from writing the outbox.
    void CloseQuery();

    // Reading the rows of the last query; each throws CDbError (DB_E_POINTER before any query).
    int IsEof();
    int MoveNext();
    std::string GetFieldString(const std::string& column);  // NULL gives ""
    int GetFieldInt(const std::string& column);             // NULL gives 0

private:
    // Opens the connection when it is not open (throws as OpenDatabase does).
    bool Connected();
    const CDbRecordset& Rows() const;
    // Drops the rows of the last query and the turn they held.
    void DropRows();

    bool m_bQueryTurn = false;  // the rows of the last query hold the engine's turn
};

// A connection of its own, apart from the one the process shares: for a front end that must
// not disturb the engine's connection (the HTTP interface). Its statements give way to the
// engine's: one starts only while no engine statement runs or waits, nor rows of the
// engine's last query are open. Not synchronised: its owner lets one thread in at a time.
class CPrivateDbConnection {
public:
    CPrivateDbConnection() = default;
    CPrivateDbConnection(const CPrivateDbConnection&) = delete;
    CPrivateDbConnection& operator=(const CPrivateDbConnection&) = delete;

    // Where it logs in; a change drops the open connection.
    void SetLogin(const std::string& connect, const std::string& user, const std::string& password);
    // As CAdoDatabase::ExecuteOnce, on this connection: opened on demand, dropped after a
    // failure so the next call opens a new one.
    std::optional<std::string> ExecuteOnce(const SqlCommand& command);

private:
    std::string m_strConnect, m_strUser, m_strPassword;
    std::shared_ptr<CDbConnection> m_connection;
};
