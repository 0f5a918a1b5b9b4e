#pragma once
// An Xvfb server on a free display for the life of the object, and small helpers to run
// X client programs against it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <xcb/xcb.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// A child process started with posix_spawnp; stopped with SIGTERM when destroyed.
class ChildProcess {
public:
    ChildProcess() = default;
    // Descriptors without close-on-exec are inherited; `logFile`, when given, takes the
    // child's standard output and error.
    bool Start(const std::vector<std::string>& argv, const std::string& logFile = "") {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!logFile.empty()) {
            posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
        }
        const int rc = posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) m_pid = -1;
        return m_pid > 0;
    }
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Stop() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    // True while the child has not ended; reaps it when it has.
    bool Running() {
        if (m_pid <= 0) return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        return true;
    }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

class XServer {
public:
    // Starts Xvfb on the first free display it finds and sets DISPLAY for this process.
    XServer() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        // Its output goes nowhere: a server left behind by a test that crashed must not hold
        // the test runner's output open, or the runner waits for it until its time-out.
        // -noreset: an X server resets itself when its last client leaves, and a client that
        // connects during the reset fails; the probe below would be such a last client.
        if (!m_server.Start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten",
                             "tcp", "-noreset"},
                            "/dev/null")) {
            ::close(fds[0]);
            ::close(fds[1]);
            return;
        }
        ::close(fds[1]);
        std::string number;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (number.empty()) return;
        ::setenv("DISPLAY", (":" + number).c_str(), 1);
        // Waits until a client can connect: on a busy machine a client started at once was
        // seen failing to open the display.
        for (int i = 0; i < 300 && m_display.empty() && m_server.Running(); ++i) {
            xcb_connection_t* c = xcb_connect(nullptr, nullptr);
            if (xcb_connection_has_error(c) == 0) m_display = ":" + number;
            else ::usleep(100000);
            xcb_disconnect(c);
        }
    }
    const std::string& Display() const { return m_display; }
    bool Ok() const { return !m_display.empty(); }

private:
    ChildProcess m_server;
    std::string m_display;
};

// Runs a command line through the shell and returns its standard output.
inline std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        ::pclose(pipe);
    }
    return out;
}
