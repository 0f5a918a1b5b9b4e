#pragma once
// ODBC data sources of a test process, in a folder of their own: a temporary ODBCSYSINI
// with odbcinst.ini and odbc.ini, written once before the first ODBC call (unixODBC
// remembers where its files are for the life of the process).
//
//   PwSqlite    SQLite file in the temporary folder
//   PwSqliteQuick  the same file, waiting at most 0.5 s for a lock instead of 10 s
//   PwNoFolder  SQLite file in a folder that does not exist
//   PwPg        the PostgreSQL server of the test run (PW_PG_STATE names the folder
//               where pg_server.sh keeps its state)
//   PwPgLegacy  the same server with standard_conforming_strings off, values inlined by
//               the driver
//   PwRefused   PostgreSQL driver aimed at CountingListener (accepts and hangs up)
//   PwMy        the MariaDB server of the test run (mariadb_server.sh keeps its state in
//               PW_MY_STATE, by default "my" beside PW_PG_STATE), in its default SQL mode
#include "support/TempDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

// A loopback port that accepts each connection and closes it at once, counting them:
// a data source that is there but never answers.
class CountingListener {
public:
    CountingListener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_fd, 16) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            while (!m_stop) {
                pollfd p{m_fd, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (client < 0) continue;
                ++m_accepted;
                ::close(client);
            }
        });
    }
    ~CountingListener() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_fd >= 0) ::close(m_fd);
    }
    int Port() const { return m_port; }
    int Accepted() const { return m_accepted; }

private:
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

class TestDataSources {
public:
    static TestDataSources& Get() {
        static TestDataSources sources;
        return sources;
    }

    bool PostgresExpected() const { return !m_pgState.empty(); }
    bool HasPostgres() const { return !Pg("PGPORT").empty(); }
    bool MariaDbExpected() const { return !m_myState.empty(); }
    bool HasMariaDb() const { return !My("MYSOCKET").empty(); }
    std::string My(const std::string& key) const {
        auto it = m_my.find(key);
        return it == m_my.end() ? std::string() : it->second;
    }
    // Values of the server's state file: PGPORT, PW_PG_USER, PW_PG_PASSWORD...
    std::string Pg(const std::string& key) const {
        auto it = m_pg.find(key);
        return it == m_pg.end() ? std::string() : it->second;
    }
    // Restarts the PostgreSQL server, which drops every client connection.
    bool RestartPostgres() const {
        std::string command = "bash '" + Pg("PW_PG_SCRIPT") + "' restart '" + m_pgState + "'";
        return std::system(command.c_str()) == 0;
    }
    const std::string& Folder() const { return m_dir.path(); }
    CountingListener& Refusing() { return m_listener; }

private:
    TestDataSources() {
        if (const char* state = std::getenv("PW_PG_STATE")) {
            m_pgState = state;
            std::ifstream env(m_pgState + "/env");
            std::string line;
            while (std::getline(env, line)) {
                auto eq = line.find('=');
                if (eq != std::string::npos) m_pg[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
        if (const char* state = std::getenv("PW_MY_STATE")) m_myState = state;
        else if (!m_pgState.empty()) m_myState = m_pgState.substr(0, m_pgState.find_last_of('/') + 1) + "my";
        if (!m_myState.empty()) {
            std::ifstream env(m_myState + "/env");
            std::string line;
            while (std::getline(env, line)) {
                auto eq = line.find('=');
                if (eq != std::string::npos) m_my[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
        const std::string lib = "/usr/lib/x86_64-linux-gnu/odbc/";
        std::ofstream(m_dir.file("odbcinst.ini"))
            << "[SQLite3]\nDriver=" << lib << "libsqlite3odbc.so\n\n"
            << "[PostgreSQL Unicode]\nDriver=" << lib << "psqlodbcw.so\n\n"
            << "[PostgreSQL]\nDriver=" << lib << "psqlodbca.so\n\n"
            << "[MariaDB Unicode]\nDriver=" << lib << "libmaodbc.so\n";
        std::ostringstream ini;
        ini << "[PwSqlite]\nDriver=SQLite3\nDatabase=" << m_dir.file("test.db") << "\nTimeout=10000\n\n"
            << "[PwSqliteQuick]\nDriver=SQLite3\nDatabase=" << m_dir.file("test.db") << "\nTimeout=500\n\n"
            << "[PwNoFolder]\nDriver=SQLite3\nDatabase=" << m_dir.file("missing/folder/test.db") << "\n\n"
            << "[PwRefused]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" << m_listener.Port()
            << "\nDatabase=pellwick\nSSLmode=disable\n\n";
        if (HasPostgres()) {
            ini << "[PwPg]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" << Pg("PGPORT")
                << "\nDatabase=pellwick\nSSLmode=disable\n\n";
            // The legacy string mode, in which a backslash escapes a quote, with the values
            // written into the statement by the driver rather than sent apart.
            ini << "[PwPgLegacy]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" << Pg("PGPORT")
                << "\nDatabase=pellwick\nSSLmode=disable\nUseServerSidePrepare=0\n"
                << "ConnSettings=set standard_conforming_strings to off\n";
        }
        if (HasMariaDb()) {
            ini << "\n[PwMy]\nDriver=MariaDB Unicode\nServer=localhost\nSocket=" << My("MYSOCKET")
                << "\nDatabase=pellwick\nCharset=utf8mb4\n";
        }
        std::ofstream(m_dir.file("odbc.ini")) << ini.str();
        ::setenv("ODBCSYSINI", m_dir.path().c_str(), 1);
        ::setenv("ODBCINI", m_dir.file("odbc.ini").c_str(), 1);
    }

    TempDir m_dir;
    CountingListener m_listener;
    std::string m_pgState;
    std::map<std::string, std::string> m_pg;
    std::string m_myState;
    std::map<std::string, std::string> m_my;
};
