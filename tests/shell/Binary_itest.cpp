// The gateway binary run from a folder of its own, as a person would run it.
#include "shell/OdbcSetup.h"
#include "support/ModemSim.h"
#include "support/TempDir.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A copy of the binary in an empty folder, started with an environment without a
// display, a service manager or a chosen state folder, its standard output going to a
// file and its standard input read from the file "stdin.txt" when there is one.
class Gateway {
public:
    explicit Gateway(std::map<std::string, std::string> extraEnv = {}) : m_extraEnv(std::move(extraEnv)) {
        fs::copy_file(PELLWICK_BINARY, folder.file("pellwick"));
    }
    ~Gateway() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    void Start(const std::string& argument) { Start(argument.empty() ? std::vector<std::string>{} : std::vector<std::string>{argument}); }

    void Start(std::vector<std::string> arguments) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            std::string name = entry.substr(0, entry.find('='));
            if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "NOTIFY_SOCKET" ||
                name == "DBUS_SYSTEM_BUS_ADDRESS" || name == "QT_QPA_PLATFORM" || name == "PELLWICK_HOME" ||
                name == "STATE_DIRECTORY" || m_extraEnv.count(name))
                continue;
            env.push_back(entry);
        }
        // No service manager is reachable, whatever this machine has.
        env.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + folder.file("no-bus"));
        for (auto& [name, value] : m_extraEnv) env.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& s : env) envp.push_back(s.data());
        envp.push_back(nullptr);

        std::vector<std::string> command = runAs;
        command.push_back(program);
        command.insert(command.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& arg : command) argv.push_back(arg.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, folder.file("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, folder.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (fs::exists(folder.file("stdin.txt")))
            posix_spawn_file_actions_addopen(&actions, 0, folder.file("stdin.txt").c_str(), O_RDONLY, 0);
        // Started from another folder: the gateway must find its own.
        ASSERT_EQ(::posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    // Waits (bounded) for the process to end; -1 when it did not.
    int Wait(std::chrono::seconds limit = std::chrono::seconds(30)) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return -1;
    }

    int Run(const std::string& argument) {
        Start(argument);
        return Wait();
    }
    int Run(std::vector<std::string> arguments) {
        Start(std::move(arguments));
        return Wait();
    }

    bool WaitForFile(const std::string& name) {
        for (int i = 0; i < 400; ++i) {
            if (fs::exists(folder.file(name))) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    void Signal(int signal) { ::kill(m_pid, signal); }
    pid_t Pid() const { return m_pid; }
    std::string Stdout() { return ReadFile(folder.file("stdout.txt")); }
    std::string Stderr() { return ReadFile(folder.file("stderr.txt")); }
    // The usage's first line, naming the command as it was typed.
    std::string UsageStart() { return folder.file("pellwick") + " -install          to install the service\n"; }

    TempDir folder;
    std::string program = folder.file("pellwick");
    std::vector<std::string> runAs;  // a command that runs the program as another user

private:
    std::map<std::string, std::string> m_extraEnv;
    pid_t m_pid = -1;
};

}  // namespace

// What each informational or wrong command line prints, where, and its exit code. None
// of them needs a display or touches the settings.
TEST(GatewayBinary, HelpVersionAndWrongSwitches) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        bool usageOnStdout, usageOnStderr;
        std::string stdoutText, stderrStart;  // without the usage
    };
    const Case cases[] = {
        {{"--help"}, 0, true, false, "", ""},
        {{"-h"}, 0, true, false, "", ""},
        {{"-HELP"}, 0, true, false, "", ""},
        {{"--version"}, 0, false, false, "pellwick 1.7\n", ""},
        {{"-x"}, 2, false, true, "", "pellwick: unknown option '-x'\n"},
        {{"stop"}, 2, false, true, "", "pellwick: unknown option 'stop'\n"},
        {{"-set"}, 2, false, true, "", "pellwick: option '-set' needs NAME=VALUE\n"},
        {{"-home"}, 2, false, true, "", "pellwick: option '-home' needs a folder\n"},
        {{"-instance", "../x", "-show"}, 2, false, true, "",
         "pellwick: invalid instance name '../x': letters, digits, '.', '-' and '_', at most 64, not starting with "
         "'.' or '-'\n"},
        // No switch: the usage, then the service body, which fails outside a service manager.
        {{}, 0, true, false, "", ""},
    };
    for (const Case& c : cases) {
        Gateway gateway;
        const std::string name = c.args.empty() ? "<none>" : c.args[0];
        EXPECT_EQ(gateway.Run(c.args), c.exitCode) << name;
        const std::string out = c.usageOnStdout ? gateway.UsageStart() : c.stdoutText;
        const std::string err = c.usageOnStderr ? c.stderrStart + gateway.UsageStart() : "";
        EXPECT_EQ(gateway.Stdout().substr(0, c.usageOnStdout ? out.size() : std::string::npos), out) << name;
        EXPECT_EQ(gateway.Stderr().substr(0, err.size()), err) << name;
        EXPECT_EQ(gateway.Stderr().empty(), err.empty()) << name;
        EXPECT_FALSE(fs::exists(gateway.folder.file("Pellwick.ini"))) << name;
    }
}

// The administrator's first steps on a fresh server without a display.
TEST(GatewayBinary, SetAndShowInAFreshHome) {
    Gateway gateway;
    const std::string home = gateway.folder.file("state");
    // The PIN comes from standard input, not the command line.
    std::ofstream(gateway.folder.file("stdin.txt")) << "1234\n";
    EXPECT_EQ(gateway.Run({"-home", home, "-set", "dsn=Sales", "retry_interval=5", "pin=-", "multipart_timeout=30",
                           "report_sql=update smsout set delivered=<STATUS> where msgid=<MSGID>"}),
              0)
        << gateway.Stderr();
    fs::remove(gateway.folder.file("stdin.txt"));
    EXPECT_EQ(ReadFile(home + "/Pellwick.pin"), "1234\n");
    EXPECT_EQ(gateway.Run({"-home", home, "-show"}), 0);
    const std::string shown = gateway.Stdout();
    for (const char* line : {"\ndsn=Sales\n", "\nretry_interval=5\n", "\npin=********\n", "\nauto_start=1\n",
                             "\nmultipart_join=1\nmultipart_timeout=30\n"
                             "report_sql=update smsout set delivered=<STATUS> where msgid=<MSGID>\n"})
        EXPECT_NE(shown.find(line), std::string::npos) << line << " in\n" << shown;
    EXPECT_EQ(shown.find("1234"), std::string::npos);
    EXPECT_EQ(shown.rfind("# state folder: " + home + "\nport=1\n", 0), 0u) << shown;

    const auto privateFile = fs::perms::owner_read | fs::perms::owner_write;
    EXPECT_EQ(fs::file_size(home + "/Pellwick.ini"), 1016u);
    EXPECT_EQ(fs::status(home + "/Pellwick.ini").permissions() & fs::perms::all, privateFile);
    EXPECT_EQ(fs::status(home + "/Pellwick.pin").permissions() & fs::perms::all, privateFile);
    EXPECT_EQ(fs::status(home + "/Pellwick.conf").permissions() & fs::perms::all, privateFile);
    EXPECT_EQ(ReadFile(home + "/Pellwick.ini").find("1234"), std::string::npos);
    EXPECT_FALSE(fs::exists(gateway.folder.file("Pellwick.ini")));

    // One bad value refuses the whole command, naming each bad field.
    const std::string before = ReadFile(home + "/Pellwick.ini");
    EXPECT_EQ(gateway.Run({"-home", home, "-set", "dsn=Other", "retry_interval=abc", "color=red"}), 2);
    EXPECT_EQ(gateway.Stderr(),
              "pellwick: retry_interval: Please enter an integer.\npellwick: unknown setting 'color'\n");
    EXPECT_EQ(ReadFile(home + "/Pellwick.ini"), before);

    // PELLWICK_HOME names the same folder.
    Gateway viaEnvironment({{"PELLWICK_HOME", home}});
    EXPECT_EQ(viaEnvironment.Run("-show"), 0);
    EXPECT_NE(viaEnvironment.Stdout().find("\ndsn=Sales\n"), std::string::npos);
}

// Root's -set in the service user's folder leaves the files to that user. A settings file
// the gateway's user cannot read (root's, mode 0600) is never replaced: -show, -set and
// the gateway each stop with an error that names it. Without root, a file of mode 0000
// stands for it.
TEST(GatewayBinary, SettingsThatCannotBeReadAreNeverReplaced) {
    constexpr uid_t kServiceUser = 65534;
    const bool root = ::geteuid() == 0;
    Gateway gateway;
    const std::string home = gateway.folder.file("state"), ini = home + "/Pellwick.ini";
    fs::create_directory(home);
    fs::permissions(home, fs::perms::owner_all);
    if (root) {
        fs::permissions(gateway.folder.path(), fs::perms::owner_all | fs::perms::others_exec);
        ASSERT_EQ(::chown(home.c_str(), kServiceUser, kServiceUser), 0);
    }
    ASSERT_EQ(gateway.Run({"-home", home, "-set", "dsn=Sales", "port=3"}), 0) << gateway.Stderr();
    const std::string before = ReadFile(ini);
    ASSERT_EQ(before.size(), 1016u);
    if (root) {
        for (const char* name : {"Pellwick.ini", "Pellwick.conf"}) {
            struct stat st {};
            ASSERT_EQ(::stat((home + "/" + name).c_str(), &st), 0);
            EXPECT_EQ(st.st_uid, kServiceUser) << name;
            EXPECT_EQ(st.st_gid, kServiceUser) << name;
        }
        ASSERT_EQ(::chown(ini.c_str(), 0, 0), 0);
        gateway.runAs = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    } else {
        fs::permissions(ini, fs::perms::none);
    }
    const std::string error = "pellwick: cannot read the settings: " + ini + ": Permission denied\n";
    for (const char* command : {"-show", "-set", "-debug"}) {
        std::vector<std::string> args{"-home", home, command};
        if (command == std::string("-set")) args.push_back("dsn=Other");
        EXPECT_EQ(gateway.Run(args), 1) << command;
        EXPECT_EQ(gateway.Stderr(), error) << command;
    }
    EXPECT_EQ(gateway.Stdout(), "");  // -debug ended before it started
    fs::permissions(ini, fs::perms::owner_read);
    EXPECT_EQ(ReadFile(ini), before);
}

// An over-long Pellwick.conf is refused whole, never cut and then saved without its tail.
TEST(GatewayBinary, OverLongConfFileIsRefusedAndKept) {
    Gateway gateway;
    const std::string home = gateway.folder.file("state"), conf = home + "/Pellwick.conf";
    ASSERT_EQ(gateway.Run({"-home", home, "-set", "dsn=Sales"}), 0) << gateway.Stderr();
    std::ofstream(conf, std::ios::app) << "# " << std::string(70000, 'x') << "\nclaim_sql=update smsout set status=9\n";
    const std::string before = ReadFile(conf);
    EXPECT_EQ(gateway.Run({"-home", home, "-set", "dsn=Other"}), 1);
    EXPECT_EQ(gateway.Stderr(), "pellwick: cannot read the settings: " + conf + ": longer than 65536 bytes\n");
    EXPECT_EQ(ReadFile(conf), before);
}

// Run from a .../usr/bin folder without -home, the program uses the service's state folder,
// never its own.
TEST(GatewayBinary, InstalledProgramUsesTheServicesStateFolder) {
    Gateway gateway;
    fs::create_directories(gateway.folder.file("usr/bin"));
    gateway.program = gateway.folder.file("usr/bin/pellwick");
    fs::copy_file(PELLWICK_BINARY, gateway.program);
    gateway.Run("-show");  // whether this machine has the folder decides the rest
    const std::string first = "# state folder: /var/lib/orvane-pellwick\n";
    EXPECT_EQ(gateway.Stdout().substr(0, first.size()), first);
    EXPECT_FALSE(fs::exists(gateway.folder.file("usr/bin/Pellwick.ini")));
}

// Each instance has a state folder of its own inside the chosen one, created private, and
// its own demonstration database; the data source the instances share stays on -remove.
TEST(GatewayBinary, InstancesKeepTheirStateInFoldersOfTheirOwn) {
    TempDir odbc;
    std::ofstream(odbc.file("odbcinst.ini")) << "[SQLite3]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n";
    Gateway gateway({{"ODBCSYSINI", odbc.path()}});
    const std::string home = gateway.folder.file("state");
    EXPECT_EQ(gateway.Run({"-home", home, "-instance", "sim2", "-set", "dsn=Second"}), 0) << gateway.Stderr();
    EXPECT_EQ(gateway.Run({"-home", home, "-set", "dsn=First"}), 0) << gateway.Stderr();
    EXPECT_EQ(gateway.Run({"-home", home, "-show", "-instance", "sim2"}), 0);
    EXPECT_NE(gateway.Stdout().find("\ndsn=Second\n"), std::string::npos) << gateway.Stdout();
    EXPECT_EQ(fs::status(home + "/sim2").permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_NE(ReadFile(home + "/Pellwick.ini").find("First"), std::string::npos);

    EXPECT_EQ(gateway.Run({"-install", "-instance", "sim3"}), 1);  // systemd is not reachable
    EXPECT_EQ(gateway.Stdout().rfind("OpenSCManager failed - ", 0), 0u) << gateway.Stdout();
    EXPECT_TRUE(fs::exists(gateway.folder.file("sim3/DADIvav.db")));
    EXPECT_NE(ReadFile(odbc.file("odbc.ini")).find(gateway.folder.file("sim3/DADIvav.db")), std::string::npos);
    EXPECT_EQ(gateway.Run({"-instance", "sim3", "-remove"}), 1);
    EXPECT_NE(ReadFile(odbc.file("odbc.ini")).find("[DADIvav]"), std::string::npos);
}

TEST(GatewayBinary, Win9xWritesDefaultSettingsAndNoLogThenStopsOnSigterm) {
    Gateway gateway;
    gateway.Start("-win9x");
    ASSERT_TRUE(gateway.WaitForFile("Pellwick.ini"));
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.Wait(), 0);
    EXPECT_EQ(gateway.Stdout(), "Debugging Orvane Pellwick.\n");
    const std::string ini = gateway.folder.file("Pellwick.ini");
    EXPECT_EQ(fs::file_size(ini), 1016u);
    EXPECT_EQ(fs::status(ini).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadFile(ini).substr(52, 8), std::string("DADIvav\0", 8));
    EXPECT_FALSE(fs::exists(gateway.folder.file("Pellwick.log")));
}

TEST(GatewayBinary, DebugWritesTheLogAndStopsOnSigint) {
    Gateway gateway;
    gateway.Start("/DEBUG");
    ASSERT_TRUE(gateway.WaitForFile("Pellwick.log"));
    gateway.Signal(SIGINT);
    EXPECT_EQ(gateway.Wait(), 0);
    EXPECT_EQ(gateway.Stdout(), "Debugging Orvane Pellwick.\n");
    EXPECT_NE(ReadFile(gateway.folder.file("Pellwick.log")).find("Orvane Pellwick started."), std::string::npos);
    EXPECT_EQ(fs::status(gateway.folder.file("Pellwick.log")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

namespace {

int OutboxStatus(const std::string& database, int msgid) {
    sqlite3* db = nullptr;
    int status = -99;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 1000);
        sqlite3_stmt* statement = nullptr;
        const std::string sql = "select status from smsout where msgid=" + std::to_string(msgid);
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            status = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return status;
}

bool WaitForStatus(const std::string& database, int msgid, int status) {
    for (int i = 0; i < 1200; ++i) {
        if (OutboxStatus(database, msgid) == status) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace

// A running gateway takes up a `-set` from a shell without a restart: it leaves the
// data source it started with for the one set, and sends that one's outbox.
TEST(GatewayBinary, RunningGatewayTakesUpASetFromTheShell) {
    TempDir odbc;
    Gateway gateway({{"ODBCSYSINI", odbc.path()}});
    const std::string first = gateway.folder.file("first.db"), second = gateway.folder.file("second.db");
    {
        std::ofstream drivers(odbc.file("odbcinst.ini"));
        drivers << "[SQLite3]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n";
        std::ofstream sources(odbc.file("odbc.ini"));
        sources << "[First]\nDriver=SQLite3\nDatabase=" << first << "\nTimeout=10000\n"
                << "[Second]\nDriver=SQLite3\nDatabase=" << second << "\nTimeout=10000\n";
    }
    for (const std::string& database : {first, second}) {
        ASSERT_TRUE(CreateDemoDatabase(database));
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "insert into smsout(msgid, phone, msgbody) values(1, '+4917012345', 'hi')",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    ModemSim sim(gateway.folder.path());
    ASSERT_EQ(gateway.Run({"-set", "dsn=First", "sending_period=0", "query_interval=1", "retry_interval=0"}), 0)
        << gateway.Stderr();

    gateway.Start("-win9x");
    ASSERT_TRUE(WaitForStatus(first, 1, 1)) << "the gateway did not send from its first data source";
    EXPECT_EQ(OutboxStatus(second, 1), 0);

    Gateway shell;
    ASSERT_EQ(shell.Run({"-home", gateway.folder.path(), "-set", "dsn=Second"}), 0) << shell.Stderr();
    EXPECT_TRUE(WaitForStatus(second, 1, 1)) << "the running gateway did not take up the new data source";

    // systemctl reload reads the settings again; it never ends the gateway.
    gateway.Signal(SIGHUP);
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.Wait(), 0);
    // Its own saves of the counters kept what the shell set.
    EXPECT_NE(ReadFile(gateway.folder.file("Pellwick.ini")).find("Second"), std::string::npos);
}

TEST(GatewayBinary, ServiceCommandsWithoutServiceManager) {
    TempDir odbc;  // -remove also takes the data source away: keep it off the machine's list
    for (const char* argument : {"-start", "-stop", "/Remove"}) {
        Gateway gateway({{"ODBCSYSINI", odbc.path()}});
        EXPECT_EQ(gateway.Run(argument), 1) << argument;
        std::string out = gateway.Stdout();
        EXPECT_EQ(out.rfind("OpenSCManager failed - ", 0), 0u) << out;
        EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    }
}

TEST(GatewayBinary, InstallRegistersTheDataSourceAndCreatesTheDatabase) {
    TempDir odbc;
    {
        std::ofstream drivers(odbc.file("odbcinst.ini"));
        drivers << "[SQLite3]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n";
    }
    Gateway gateway({{"ODBCSYSINI", odbc.path()}});
    EXPECT_EQ(gateway.Run("-install"), 1);  // the data source is written; systemd is not reachable
    std::string out = gateway.Stdout();
    EXPECT_EQ(out.rfind("OpenSCManager failed - ", 0), 0u) << out;
    EXPECT_TRUE(fs::exists(gateway.folder.file("DADIvav.db")));
    // The demonstration database and the data source list hold messages: private.
    EXPECT_EQ(fs::status(gateway.folder.file("DADIvav.db")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(odbc.file("odbc.ini")).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
    std::string ini = ReadFile(odbc.file("odbc.ini"));
    EXPECT_NE(ini.find("[DADIvav]"), std::string::npos) << ini;
    EXPECT_NE(ini.find(gateway.folder.file("DADIvav.db")), std::string::npos) << ini;

    Gateway remover({{"ODBCSYSINI", odbc.path()}});
    EXPECT_EQ(remover.Run("-remove"), 1);
    EXPECT_EQ(ReadFile(odbc.file("odbc.ini")).find("DADIvav"), std::string::npos);
}

TEST(GatewayBinary, RunAsServiceReportsToTheServiceManager) {
    TempDir managerDir;
    const std::string socketPath = managerDir.file("notify");
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // Waits (bounded) for the next datagram, passing over (and counting) the watchdog's;
    // "<fed>" once the watchdog was fed `feeds` times.
    int fed = 0;
    auto next = [fd, &fed](int feeds = INT_MAX) -> std::string {
        while (fed < feeds) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) return "<none>";
            char data[4096];
            const ssize_t n = ::recv(fd, data, sizeof data, 0);
            if (n < 0) return "<error>";
            std::string message(data, static_cast<std::size_t>(n));
            if (message != "WATCHDOG=1") return message;
            ++fed;
        }
        return "<fed>";
    };

    // The service states, passing over the gateway's own status texts in between.
    auto nextState = [&next]() -> std::string {
        for (;;) {
            std::string message = next();
            bool statusText = message.rfind("STATUS=", 0) == 0 && message.find('\n') == std::string::npos &&
                              message != "STATUS=Stopped";
            if (!statusText) return message;
        }
    };

    Gateway gateway({{"NOTIFY_SOCKET", socketPath}, {"WATCHDOG_USEC", "300000000"}});
    gateway.Start("");
    EXPECT_EQ(next(), "STATUS=Start pending\nEXTEND_TIMEOUT_USEC=3000000");
    EXPECT_EQ(next(), "READY=1\nSTATUS=Running");
    // Each new status of the running gateway is shown by the service manager too.
    EXPECT_EQ(next(), "STATUS=Connect to database.");
    // The worker feeds the watchdog pass after pass, its links down or not.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (next(3) != "<fed>" && std::chrono::steady_clock::now() < until) {
    }
    EXPECT_GE(fed, 3);
    // A service has no window: not one Qt library is loaded.
    EXPECT_EQ(ReadFile("/proc/" + std::to_string(gateway.Pid()) + "/maps").find("libQt6"), std::string::npos);
    gateway.Signal(SIGTERM);
    EXPECT_EQ(nextState(), "STOPPING=1\nSTATUS=Stop pending");
    EXPECT_EQ(nextState(), "STATUS=Stopped");
    EXPECT_EQ(gateway.Wait(), 0);
    EXPECT_EQ(gateway.Stdout().find(" -install "), std::string::npos);  // no usage in the journal
    EXPECT_EQ(fs::file_size(gateway.folder.file("Pellwick.ini")), 1016u);
    ::close(fd);
}
