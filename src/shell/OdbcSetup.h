#pragma once
// The ODBC system data source "DADIvav" that -install adds and -remove takes away,
// written through unixODBC's installer library loaded on demand, and the demonstration
// database DADIvav.db that the data source names.
#include <string>

constexpr const char* DATA_SOURCE_NAME = "DADIvav";
constexpr const char* DATA_SOURCE_DRIVER = "SQLite3";
constexpr const char* DATA_SOURCE_DESCRIPTION = "Orvane Mobile Pellwick Demo Data Source.";
constexpr const char* DATA_SOURCE_TIMEOUT = "10000";
constexpr const char* ODBC_INSTALLER_LIBRARY = "libodbcinst.so.2";

class COdbcInstaller {
public:
    explicit COdbcInstaller(std::string library = ODBC_INSTALLER_LIBRARY);
    ~COdbcInstaller();
    COdbcInstaller(const COdbcInstaller&) = delete;
    COdbcInstaller& operator=(const COdbcInstaller&) = delete;

    // Registers the system data source for the database file; false when it could not.
    // A missing installer library is reported as an error message.
    bool AddDataSource(const std::string& databasePath);
    bool RemoveDataSource();

private:
    bool Load();

    std::string m_strLibrary;
    void* m_handle = nullptr;
};

// Creates the database (write-ahead logging) with the tables smsout and smsin when the file does not exist;
// true when the file exists afterwards.
bool CreateDemoDatabase(const std::string& path);
