#pragma once
// The gateway binary as a process of its own that a test can kill: `pellwick -home
// FOLDER -debug`, its state folder beside a simulator's COM1, with no display and no
// system bus, its output in FOLDER/stdout.txt and FOLDER/stderr.txt. FileText reads
// what it leaves behind.
#include <fstream>
#include <sstream>
#include <string>

inline std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

#ifdef PELLWICK_BINARY
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

// `pellwick -home FOLDER` with `args` (by default -debug), not waited for.
inline pid_t StartGatewayProcess(const std::string& folder, std::vector<std::string> args = {"-debug"}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "NOTIFY_SOCKET" &&
            name != "DBUS_SYSTEM_BUS_ADDRESS")
            env.push_back(entry);
    }
    env.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + folder + "/no-bus");
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = PELLWICK_BINARY;
    args.insert(args.begin(), {program, "-home", folder});
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (folder + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (folder + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline void EndProcess(pid_t pid, int signal) {
    if (pid <= 0) return;
    ::kill(pid, signal);
    ::waitpid(pid, nullptr, 0);
}

// The exit code of a gateway process that ends by itself within `seconds`; -1 (and the
// process killed) when it does not.
inline int WaitForExit(pid_t pid, int seconds) {
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EndProcess(pid, SIGKILL);
    return -1;
}

inline bool WaitFor(const std::function<bool()>& done, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}
#endif
