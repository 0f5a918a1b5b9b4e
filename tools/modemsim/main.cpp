// modemsim: a GSM modem on a pseudo-terminal, driven through a control socket.
// See README.md for the command line and the control protocol.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <list>
#include <string>
#include <vector>

#include "Control.h"
#include "Modem.h"

using namespace modemsim;

namespace {

struct Options {
    std::string link = "./COM1";
    std::string control;
    std::string profile = "generic";
    std::string pin;
    int wake = 1;
    std::string recordFile;
    bool verbose = false;
    std::vector<std::string> requests;  // client mode: send these to a running simulator
};

int64_t Monotonic() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Usage() {
    std::cerr << "usage: modemsim [--link PATH] [--control PATH] [--profile NAME] [--pin PIN]\n"
                 "                [--wake N] [--record FILE] [--verbose]\n"
                 "       modemsim [--link PATH] [--control PATH] --request LINE [--request LINE ...]\n";
}

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc)
                return false;
            target = argv[++i];
            return true;
        };
        std::string wake;
        if (a == "--link") {
            if (!value(o.link)) return false;
        } else if (a == "--control") {
            if (!value(o.control)) return false;
        } else if (a == "--profile") {
            if (!value(o.profile)) return false;
        } else if (a == "--pin") {
            if (!value(o.pin)) return false;
        } else if (a == "--record") {
            if (!value(o.recordFile)) return false;
        } else if (a == "--request") {
            std::string line;
            if (!value(line)) return false;
            o.requests.push_back(line);
        } else if (a == "--wake") {
            if (!value(wake)) return false;
            char* end = nullptr;
            const long n = std::strtol(wake.c_str(), &end, 10);
            if (wake.empty() || *end != '\0' || n < 1 || n > 1000000) return false;
            o.wake = static_cast<int>(n);
        } else if (a == "--verbose") {
            o.verbose = true;
        } else {
            return false;
        }
    }
    if (o.control.empty())
        o.control = o.link + ".ctl";
    return FindProfile(o.profile) != nullptr;
}

std::string Printable(const std::string& bytes) {
    std::string out;
    for (char ch : bytes) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '\r') out += "\\r";
        else if (ch == '\n') out += "\\n";
        else if (u < 0x20 || u >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else out += ch;
    }
    return out;
}

// Everything written to the pseudo-terminal goes through this queue, in order; an item
// is not written before its due time, which is how slow and chunked answers are made.
class Serial : public ModemOutput {
public:
    Serial(int fd, bool verbose) : m_fd(fd), m_verbose(verbose) {}
    // The slow and chunk settings, which the control channel changes while running.
    void UseFaults(const Faults* faults) { m_faults = faults; }

    void Echo(const std::string& bytes) override { m_queue.push_back({bytes, Monotonic()}); }

    void Answer(const std::string& bytes) override {
        const Faults none;
        const Faults& f = m_faults ? *m_faults : none;
        int64_t due = std::max(Monotonic() + f.slowMs, m_queue.empty() ? 0 : m_queue.back().due);
        if (f.chunkBytes <= 0) {
            m_queue.push_back({bytes, due});
            return;
        }
        for (size_t i = 0; i < bytes.size(); i += static_cast<size_t>(f.chunkBytes)) {
            m_queue.push_back({bytes.substr(i, static_cast<size_t>(f.chunkBytes)), due});
            due += f.chunkGapMs;
        }
    }

    // Writes what is due; returns the milliseconds until the next item is due (-1: none).
    int Pump() {
        const int64_t now = Monotonic();
        while (!m_queue.empty() && m_queue.front().due <= now) {
            auto& item = m_queue.front();
            const ssize_t n = ::write(m_fd, item.bytes.data(), item.bytes.size());
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return 10;
                m_queue.pop_front();  // nobody can read it; do not spin on it
                continue;
            }
            if (m_verbose)
                std::cerr << "modemsim > " << Printable(item.bytes.substr(0, static_cast<size_t>(n))) << "\n";
            item.bytes.erase(0, static_cast<size_t>(n));
            if (item.bytes.empty())
                m_queue.pop_front();
        }
        if (m_queue.empty())
            return -1;
        return static_cast<int>(std::max<int64_t>(0, m_queue.front().due - now));
    }

private:
    struct Item {
        std::string bytes;
        int64_t due;
    };
    int m_fd;
    const Faults* m_faults = nullptr;
    bool m_verbose;
    std::deque<Item> m_queue;
};

struct Client {
    int fd;
    std::string in;
    std::string out;
};

struct Pty {
    int master = -1;
    int slave = -1;
    std::string slaveName;
};

// A pseudo-terminal whose slave side is raw 8-bit, no echo, no translation. Holding the
// slave open keeps the master readable (no hang-up) between clients and keeps the line
// settings between them.
bool OpenPty(Pty& pty) {
    pty.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || ::grantpt(pty.master) != 0 || ::unlockpt(pty.master) != 0)
        return false;
    const char* name = ::ptsname(pty.master);
    if (!name)
        return false;
    pty.slaveName = name;
    pty.slave = ::open(name, O_RDWR | O_NOCTTY);
    termios tio{};
    if (pty.slave < 0 || ::tcgetattr(pty.slave, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(pty.slave, TCSANOW, &tio);
    return ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK) == 0;
}

// Places the link, replacing an old symlink (never another kind of file).
bool MakeLink(const std::string& target, const std::string& link) {
    struct stat st{};
    if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(link.c_str());
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

int ListenOn(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// The termination signals arrive as readable data on the returned descriptor.
int SignalDescriptor() {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return ::signalfd(-1, &mask, SFD_CLOEXEC);
}

// Reads what a control client sent, answers each complete line and writes what it can.
// False when the client has gone; `quit` is set by a QUIT request.
bool ServeClient(Client& c, short revents, Modem& modem, bool& quit) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[4096];
        const ssize_t n = ::read(c.fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return false;
        if (n > 0) {
            c.in.append(buf, static_cast<size_t>(n));
            if (c.in.size() > 65536 && c.in.find('\n') == std::string::npos)
                return false;  // no request is that long: not a control client
            size_t nl;
            while ((nl = c.in.find('\n')) != std::string::npos) {
                const ControlResult r = HandleControl(modem, c.in.substr(0, nl));
                c.in.erase(0, nl + 1);
                c.out += r.reply;
                quit = quit || r.quit;
            }
        }
    }
    if (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0)
            c.out.erase(0, static_cast<size_t>(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
    }
    return true;
}

// Client mode: sends each request to a running simulator and prints the answers.
// Exit status 0 when every answer ends in OK, 3 when one ends in ERR, 1 when the
// simulator cannot be reached.
int RunRequests(const Options& opt) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (opt.control.size() >= sizeof addr.sun_path)
        return 1;
    std::memcpy(addr.sun_path, opt.control.c_str(), opt.control.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror(("modemsim: " + opt.control).c_str());
        return 1;
    }
    int status = 0;
    std::string pending;
    for (const auto& request : opt.requests) {
        const std::string line = request + "\n";
        if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) < 0) {
            status = 1;
            break;
        }
        // Lines up to the final "OK" or "ERR ...".
        bool done = false;
        while (!done) {
            size_t nl;
            while (!done && (nl = pending.find('\n')) != std::string::npos) {
                const std::string answer = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                std::cout << answer << '\n';
                if (answer == "OK") {
                    done = true;
                } else if (answer.rfind("ERR", 0) == 0) {
                    done = true;
                    status = 3;
                }
            }
            if (done)
                break;
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                ::close(fd);
                return 1;
            }
            pending.append(buf, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!ParseArgs(argc, argv, opt)) {
        Usage();
        return 2;
    }
    if (!opt.requests.empty())
        return RunRequests(opt);
    Pty pty;
    if (!OpenPty(pty)) {
        std::perror("modemsim: pseudo-terminal");
        return 1;
    }
    if (!MakeLink(pty.slaveName, opt.link)) {
        std::perror(("modemsim: symlink " + opt.link).c_str());
        return 1;
    }
    const int listener = ListenOn(opt.control);
    if (listener < 0) {
        std::perror(("modemsim: control socket " + opt.control).c_str());
        ::unlink(opt.link.c_str());
        return 1;
    }
    const int sigfd = SignalDescriptor();

    Serial serial(pty.master, opt.verbose);
    Modem modem(serial, *FindProfile(opt.profile));
    serial.UseFaults(&modem.Fault());
    modem.SetPin(opt.pin);
    modem.Fault().silent = opt.wake - 1;
    std::ofstream recordFile;
    if (!opt.recordFile.empty()) {
        recordFile.open(opt.recordFile, std::ios::app);
        modem.SetRecordSink([&recordFile](const std::string& line) { recordFile << line << '\n' << std::flush; });
    }
    if (opt.verbose)
        std::cerr << "modemsim: " << opt.link << " -> " << pty.slaveName << ", control " << opt.control << "\n";

    std::list<Client> clients;
    bool quit = false;
    while (!quit) {
        const int writes = serial.Pump();
        const int events = modem.Pump();
        const int timeout = writes < 0 ? events : events < 0 ? writes : std::min(writes, events);
        std::vector<pollfd> fds = {{pty.master, POLLIN, 0}, {listener, POLLIN, 0}, {sigfd, POLLIN, 0}};
        for (const auto& c : clients)
            fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            char buf[1024];
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n > 0) {
                const std::string_view bytes(buf, static_cast<size_t>(n));
                if (opt.verbose)
                    std::cerr << "modemsim < " << Printable(std::string(bytes)) << "\n";
                modem.Input(bytes);
            }
        }
        if (fds[2].revents & POLLIN)
            quit = true;
        size_t k = 3;
        for (auto it = clients.begin(); it != clients.end(); ++k) {
            if (ServeClient(*it, fds[k].revents, modem, quit)) {
                ++it;
            } else {
                ::close(it->fd);
                it = clients.erase(it);
            }
        }
        // Accepted last, so that the poll entries above match the clients walked.
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0)
                clients.push_back({fd, {}, {}});
        }
    }
    // A last try to hand over pending answers (a QUIT's OK) without waiting on anyone.
    for (auto& c : clients) {
        if (!c.out.empty())
            (void)::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(c.fd);
    }
    serial.Pump();
    ::unlink(opt.link.c_str());
    ::unlink(opt.control.c_str());
    ::close(listener);
    ::close(pty.slave);
    ::close(pty.master);
    return 0;
}
