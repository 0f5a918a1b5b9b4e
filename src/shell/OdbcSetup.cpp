#include "shell/OdbcSetup.h"

#include "config/MessageHook.h"

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The installer's calls, as unixODBC declares them (BOOL is int, UWORD unsigned short).
using SetConfigModeFn = int (*)(unsigned short);
using WriteDsnFn = int (*)(const char*, const char*);
using WriteStringFn = int (*)(const char*, const char*, const char*, const char*);
using RemoveDsnFn = int (*)(const char*);
using FilePathFn = char* (*)(char*);

constexpr unsigned short ODBC_BOTH_DSN = 0;
constexpr unsigned short ODBC_SYSTEM_DSN = 2;

// Write-ahead logging: readers never block a writer, so applications can add outbox rows
// while the gateway reads it.
const char* const DATABASE_SCHEMA =
    "PRAGMA journal_mode=WAL;"
    "CREATE TABLE smsout(msgid INTEGER PRIMARY KEY, phone TEXT, msgbody TEXT, status INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX smsout_waiting ON smsout(msgid) WHERE status = 0;"
    "CREATE TABLE smsin(phone TEXT, msgbody TEXT, rectime TIMESTAMP, UNIQUE(phone, rectime, msgbody));";

template <typename Fn>
Fn Symbol(void* handle, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(handle, name));
}

// Writing to the system odbc.ini fails while the file does not exist.
void EnsureSystemIni(void* handle) {
    std::string folder;
    char buffer[4096] = {};
    if (auto path = Symbol<FilePathFn>(handle, "odbcinst_system_file_path"); path && path(buffer))
        folder = buffer;
    if (folder.empty()) {
        const char* env = std::getenv("ODBCSYSINI");
        folder = env && *env ? env : "/etc";
    }
    std::string file = folder + "/odbc.ini";
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
}

}  // namespace

COdbcInstaller::COdbcInstaller(std::string library) : m_strLibrary(std::move(library)) {}

COdbcInstaller::~COdbcInstaller() {
    if (m_handle) ::dlclose(m_handle);
}

bool COdbcInstaller::Load() {
    if (!m_handle) m_handle = ::dlopen(m_strLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        ShowErrorMessage("The ODBC installer DLL (" + m_strLibrary + ") is not installed on this system.",
                         "ODBC Installer Error");
        return false;
    }
    return true;
}

bool COdbcInstaller::AddDataSource(const std::string& databasePath) {
    if (!Load()) return false;
    auto setMode = Symbol<SetConfigModeFn>(m_handle, "SQLSetConfigMode");
    auto writeDsn = Symbol<WriteDsnFn>(m_handle, "SQLWriteDSNToIni");
    auto writeString = Symbol<WriteStringFn>(m_handle, "SQLWritePrivateProfileString");
    if (!setMode || !writeDsn || !writeString) return false;

    EnsureSystemIni(m_handle);
    setMode(ODBC_SYSTEM_DSN);
    bool ok = writeDsn(DATA_SOURCE_NAME, DATA_SOURCE_DRIVER) &&
              writeString(DATA_SOURCE_NAME, "Description", DATA_SOURCE_DESCRIPTION, "odbc.ini") &&
              writeString(DATA_SOURCE_NAME, "Database", databasePath.c_str(), "odbc.ini") &&
              writeString(DATA_SOURCE_NAME, "Timeout", DATA_SOURCE_TIMEOUT, "odbc.ini");
    setMode(ODBC_BOTH_DSN);
    return ok;
}

bool COdbcInstaller::RemoveDataSource() {
    if (!Load()) return false;
    auto setMode = Symbol<SetConfigModeFn>(m_handle, "SQLSetConfigMode");
    auto removeDsn = Symbol<RemoveDsnFn>(m_handle, "SQLRemoveDSNFromIni");
    if (!setMode || !removeDsn) return false;
    setMode(ODBC_SYSTEM_DSN);
    bool ok = removeDsn(DATA_SOURCE_NAME);
    setMode(ODBC_BOTH_DSN);
    return ok;
}

bool CreateDemoDatabase(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;

    // Built under a temporary name and linked into place, so a failure never leaves a
    // database without its tables, and an existing file is never replaced.
    std::string tmp = path + ".XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    ::fchmod(fd, 0600);  // the database holds messages
    ::close(fd);
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(tmp.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, DATABASE_SCHEMA, nullptr, nullptr, nullptr) == SQLITE_OK;
    ok = (sqlite3_close(db) == SQLITE_OK) && ok;
    if (ok && ::link(tmp.c_str(), path.c_str()) != 0) ok = errno == EEXIST;
    ::unlink(tmp.c_str());
    return ok;
}
