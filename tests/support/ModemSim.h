#pragma once
// Runs the GSM modem simulator (tools/modemsim) for a test: starts it in a folder with
// a profile, waits until its link and control socket exist, talks to its control
// channel and stops it when the object goes away.
//
// A suite that uses it adds to its CMakeLists.txt:
//   target_compile_definitions(<suite> PRIVATE PW_MODEMSIM_PATH="$<TARGET_FILE:modemsim>")
//   add_dependencies(<suite> modemsim)
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef PW_MODEMSIM_PATH
#error "define PW_MODEMSIM_PATH to the modemsim binary (see the comment at the top of ModemSim.h)"
#endif

class ModemSim {
public:
    // Starts `modemsim --link <dir>/<linkName> --control <dir>/<linkName>.ctl --profile
    // <profile>` plus `extraArgs` (for example {"--pin", "1234"}). Throws
    // std::runtime_error when the simulator does not come up within 30 seconds.
    explicit ModemSim(const std::string& dir, const std::string& profile = "generic",
                      const std::vector<std::string>& extraArgs = {}, const std::string& linkName = "COM1")
        : m_link(dir + "/" + linkName), m_control(m_link + ".ctl") {
        std::vector<std::string> args = {PW_MODEMSIM_PATH, "--link", m_link, "--control", m_control,
                                         "--profile", profile};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            // A test that crashes takes its simulator with it.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(127);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (m_pid < 0)
            throw std::runtime_error("ModemSim: fork failed");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            struct stat st{};
            if (::stat(m_link.c_str(), &st) == 0 && ::stat(m_control.c_str(), &st) == 0 && Connect())
                return;
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                throw std::runtime_error("ModemSim: the simulator ended at start (status " +
                                         std::to_string(status) + ")");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Stop();
        throw std::runtime_error("ModemSim: the simulator did not come up at " + m_link);
    }

    ~ModemSim() { Stop(); }
    ModemSim(const ModemSim&) = delete;
    ModemSim& operator=(const ModemSim&) = delete;

    const std::string& LinkPath() const { return m_link; }
    const std::string& ControlPath() const { return m_control; }
    pid_t Pid() const { return m_pid; }

    // Sends one request line and returns the whole answer: every line ends in '\n', the
    // last is "OK" or "ERR <reason>". Empty when the simulator does not answer in 30 s.
    std::string Control(const std::string& line) {
        const std::string request = line + "\n";
        if (m_socket < 0 || ::send(m_socket, request.data(), request.size(), MSG_NOSIGNAL) < 0)
            return {};
        std::string reply;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!Complete(reply)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            pollfd p{m_socket, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
                return {};
            char buf[4096];
            const ssize_t n = ::read(m_socket, buf, sizeof buf);
            if (n <= 0)
                return reply;
            reply.append(buf, static_cast<size_t>(n));
        }
        return reply;
    }

    // The data lines of an answer, without the final "OK".
    static std::vector<std::string> Lines(const std::string& reply) {
        std::vector<std::string> lines;
        size_t start = 0, nl;
        while ((nl = reply.find('\n', start)) != std::string::npos) {
            lines.push_back(reply.substr(start, nl - start));
            start = nl + 1;
        }
        if (!lines.empty() && lines.back() == "OK")
            lines.pop_back();
        return lines;
    }

    // The record (JSON lines) of every command, PDU and unsolicited line so far.
    std::vector<std::string> Records() { return Lines(Control("RECORD")); }
    // Only the submitted PDUs.
    std::vector<std::string> Submitted() { return Lines(Control("SUBMITTED")); }

    // Stops the simulator (SIGTERM, then SIGKILL after two seconds); also done by the destructor.
    void Stop() {
        if (m_socket >= 0) {
            ::close(m_socket);
            m_socket = -1;
        }
        if (m_pid <= 0)
            return;
        // Nothing to signal once it has ended or been reaped elsewhere.
        if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
            m_pid = -1;
            return;
        }
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
                m_pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    bool Connect() {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, m_control.c_str(), sizeof addr.sun_path - 1);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        m_socket = fd;
        return true;
    }

    static bool Complete(const std::string& reply) {
        if (reply.empty() || reply.back() != '\n')
            return false;
        const size_t start = reply.rfind('\n', reply.size() - 2);
        const std::string last = reply.substr(start == std::string::npos ? 0 : start + 1);
        return last == "OK\n" || last.rfind("ERR", 0) == 0;
    }

    std::string m_link;
    std::string m_control;
    pid_t m_pid = -1;
    int m_socket = -1;
};
