// The data source written into a private ODBC configuration folder through the real
// unixODBC installer library, then used through the real driver manager and driver.
#include "shell/OdbcSetup.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// unixODBC reads ODBCSYSINI once per process, so the folder is set before any test runs.
TempDir& OdbcFolder() {
    static TempDir dir;
    return dir;
}

const bool g_configured = [] {
    std::ofstream drivers(OdbcFolder().file("odbcinst.ini"));
    drivers << "[SQLite3]\nDescription=SQLite3 ODBC Driver\n"
               "Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n";
    ::setenv("ODBCSYSINI", OdbcFolder().path().c_str(), 1);
    return true;
}();

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A connection through the data source name, closed at the end of the scope.
class Connection {
public:
    Connection() {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
        SQLRETURN rc = SQLConnect(m_dbc, (SQLCHAR*)"DADIvav", SQL_NTS, nullptr, 0, nullptr, 0);
        m_connected = SQL_SUCCEEDED(rc);
        if (!m_connected) {
            SQLCHAR state[6] = {};
            SQLINTEGER native = 0;
            SQLCHAR text[512] = {};
            SQLSMALLINT length = 0;
            SQLGetDiagRec(SQL_HANDLE_DBC, m_dbc, 1, state, &native, text, sizeof text, &length);
            m_state = reinterpret_cast<char*>(state);
        }
    }
    ~Connection() {
        if (m_connected) SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_env);
    }
    bool connected() const { return m_connected; }
    const std::string& state() const { return m_state; }

    bool Execute(const std::string& sql) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &stmt);
        SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return SQL_SUCCEEDED(rc);
    }
    // The first column of the first row as text.
    std::string Scalar(const std::string& sql) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &stmt);
        std::string value = "<none>";
        if (SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(stmt))) {
            char data[256] = {};
            SQLLEN indicator = 0;
            if (SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_CHAR, data, sizeof data, &indicator)))
                value = indicator == SQL_NULL_DATA ? "NULL" : data;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return value;
    }

private:
    SQLHENV m_env = SQL_NULL_HENV;
    SQLHDBC m_dbc = SQL_NULL_HDBC;
    bool m_connected = false;
    std::string m_state;
};

}  // namespace

TEST(DataSource, InstallOpenAndRemove) {
    ASSERT_TRUE(g_configured);
    TempDir exeFolder;
    const std::string database = exeFolder.file("DADIvav.db");
    {
        COdbcInstaller installer;
        ASSERT_TRUE(installer.AddDataSource(database));
    }
    ASSERT_TRUE(CreateDemoDatabase(database));

    std::string ini = ReadFile(OdbcFolder().file("odbc.ini"));
    EXPECT_NE(ini.find("[DADIvav]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Driver"), std::string::npos) << ini;
    EXPECT_NE(ini.find("SQLite3"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Orvane Mobile Pellwick Demo Data Source."), std::string::npos) << ini;
    EXPECT_NE(ini.find(database), std::string::npos) << ini;
    EXPECT_NE(ini.find("10000"), std::string::npos) << ini;

    {
        Connection db;
        ASSERT_TRUE(db.connected()) << db.state();
        ASSERT_TRUE(db.Execute("insert into smsout(phone, msgbody) values('+4917012345', 'hello')"));
        EXPECT_EQ(db.Scalar("select status from smsout where phone='+4917012345'"), "0");
        EXPECT_TRUE(db.Execute("insert into smsin values('+49', 'hi', '2026-12-07 10:00:00')"));
        EXPECT_FALSE(db.Execute("insert into smsin values('+49', 'hi', '2026-12-07 10:00:00')"));
        EXPECT_EQ(db.Scalar("select count(*) from smsin"), "1");
    }

    {
        COdbcInstaller installer;
        EXPECT_TRUE(installer.RemoveDataSource());
    }
    ini = ReadFile(OdbcFolder().file("odbc.ini"));
    EXPECT_EQ(ini.find("DADIvav"), std::string::npos) << ini;
    // The driver manager of this process caches what it read; a fresh process sees the
    // data source gone.
    std::string command = "isql -v -b DADIvav < /dev/null > " + exeFolder.file("isql.txt") + " 2>&1";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_NE(ReadFile(exeFolder.file("isql.txt")).find("IM002"), std::string::npos)
        << ReadFile(exeFolder.file("isql.txt"));
}

TEST(DataSource, InstallingTwiceKeepsOneEntry) {
    TempDir exeFolder;
    COdbcInstaller installer;
    ASSERT_TRUE(installer.AddDataSource(exeFolder.file("first.db")));
    ASSERT_TRUE(installer.AddDataSource(exeFolder.file("DADIvav.db")));
    std::string ini = ReadFile(OdbcFolder().file("odbc.ini"));
    EXPECT_EQ(ini.find("[DADIvav]"), ini.rfind("[DADIvav]"));
    EXPECT_EQ(ini.find("first.db"), std::string::npos) << ini;
    EXPECT_TRUE(installer.RemoveDataSource());
}
