// The gateway binary run from a folder of its own, as a person would run it.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
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
// display or a service manager, its standard output going to a file.
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

    void Start(const std::string& argument) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            std::string name = entry.substr(0, entry.find('='));
            if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "NOTIFY_SOCKET" ||
                name == "DBUS_SYSTEM_BUS_ADDRESS" || name == "QT_QPA_PLATFORM" || m_extraEnv.count(name))
                continue;
            env.push_back(entry);
        }
        // No service manager is reachable, whatever this machine has.
        env.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + folder.file("no-bus"));
        for (auto& [name, value] : m_extraEnv) env.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& s : env) envp.push_back(s.data());
        envp.push_back(nullptr);

        std::string program = folder.file("pellwick");
        std::vector<char*> argv{program.data()};
        std::string arg = argument;
        if (!arg.empty()) argv.push_back(arg.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, folder.file("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, folder.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        // Started from another folder: the gateway must find its own.
        ASSERT_EQ(::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
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

    TempDir folder;

private:
    std::map<std::string, std::string> m_extraEnv;
    pid_t m_pid = -1;
};

const char* const USAGE =
    "Orvane Pellwick -install          to install the service\n"
    "Orvane Pellwick -remove           to remove the service\n"
    "Orvane Pellwick -start            to start the service\n"
    "Orvane Pellwick -stop             to stop the service\n"
    "Orvane Pellwick -debug            to run as a console app for debugging\n";

}  // namespace

TEST(GatewayBinary, UnknownSwitchPrintsUsage) {
    for (const char* argument : {"-help", "", "stop"}) {
        Gateway gateway;
        EXPECT_EQ(gateway.Run(argument), 0) << argument;
        EXPECT_EQ(gateway.Stdout(), USAGE) << argument;
        EXPECT_FALSE(fs::exists(gateway.folder.file("Pellwick.ini")));
    }
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
}

TEST(GatewayBinary, ServiceCommandsWithoutServiceManager) {
    TempDir odbc;  // -remove also takes the data source away: keep it off the machine's list
    for (const char* argument : {"-start", "-stop", "/Remove"}) {
        Gateway gateway({{"ODBCSYSINI", odbc.path()}});
        EXPECT_EQ(gateway.Run(argument), 0) << argument;
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
    EXPECT_EQ(gateway.Run("-install"), 0);
    std::string out = gateway.Stdout();
    EXPECT_EQ(out.rfind("OpenSCManager failed - ", 0), 0u) << out;
    EXPECT_TRUE(fs::exists(gateway.folder.file("DADIvav.db")));
    std::string ini = ReadFile(odbc.file("odbc.ini"));
    EXPECT_NE(ini.find("[DADIvav]"), std::string::npos) << ini;
    EXPECT_NE(ini.find(gateway.folder.file("DADIvav.db")), std::string::npos) << ini;

    Gateway remover({{"ODBCSYSINI", odbc.path()}});
    EXPECT_EQ(remover.Run("-remove"), 0);
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
    // Waits (bounded) for the next datagram.
    auto next = [fd]() -> std::string {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) return "<none>";
        char data[4096];
        ssize_t n = ::recv(fd, data, sizeof data, 0);
        return n < 0 ? "<error>" : std::string(data, static_cast<std::size_t>(n));
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

    Gateway gateway({{"NOTIFY_SOCKET", socketPath}});
    gateway.Start("");
    EXPECT_EQ(next(), "STATUS=Start pending\nEXTEND_TIMEOUT_USEC=3000000");
    EXPECT_EQ(next(), "READY=1\nSTATUS=Running");
    // Each new status of the running gateway is shown by the service manager too.
    EXPECT_EQ(next(), "STATUS=Connect to database.");
    // A service has no window: not one Qt library is loaded.
    EXPECT_EQ(ReadFile("/proc/" + std::to_string(gateway.Pid()) + "/maps").find("libQt6"), std::string::npos);
    gateway.Signal(SIGTERM);
    EXPECT_EQ(nextState(), "STOPPING=1\nSTATUS=Stop pending");
    EXPECT_EQ(nextState(), "STATUS=Stopped");
    EXPECT_EQ(gateway.Wait(), 0);
    EXPECT_EQ(gateway.Stdout(), USAGE);
    EXPECT_EQ(fs::file_size(gateway.folder.file("Pellwick.ini")), 1016u);
    ::close(fd);
}
