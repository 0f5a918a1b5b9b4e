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
};

int64_t Monotonic() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Usage() {
    std::cerr << "usage: modemsim [--link PATH] [--control PATH] [--profile NAME] [--pin PIN]\n"
                 "                [--wake N] [--record FILE] [--verbose]\n";
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
        } else if (a == "--wake") {
            if (!value(wake)) return false;
            o.wake = std::atoi(wake.c_str());
            if (o.wake < 1) return false;
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

void AppendRecord(const std::string& line, void* context) {
    auto* file = static_cast<std::ofstream*>(context);
    *file << line << '\n';
    file->flush();
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!ParseArgs(argc, argv, opt)) {
        Usage();
        return 2;
    }

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("modemsim: posix_openpt");
        return 1;
    }
    const char* slaveName = ::ptsname(master);
    // Holding the slave open keeps the master readable (no hang-up) between clients and
    // lets the line settings persist: raw 8-bit, no echo, no translation.
    const int slave = slaveName ? ::open(slaveName, O_RDWR | O_NOCTTY) : -1;
    termios tio{};
    if (slave < 0 || ::tcgetattr(slave, &tio) != 0) {
        std::perror("modemsim: slave");
        return 1;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    struct stat st{};
    if (::lstat(opt.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(opt.link.c_str());
    if (::symlink(slaveName, opt.link.c_str()) != 0) {
        std::perror(("modemsim: symlink " + opt.link).c_str());
        return 1;
    }

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (opt.control.size() >= sizeof addr.sun_path) {
        std::cerr << "modemsim: control path too long\n";
        ::unlink(opt.link.c_str());
        return 1;
    }
    std::strcpy(addr.sun_path, opt.control.c_str());
    ::unlink(opt.control.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 8) != 0) {
        std::perror("modemsim: control socket");
        ::unlink(opt.link.c_str());
        return 1;
    }

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    const int sigfd = ::signalfd(-1, &mask, SFD_CLOEXEC);

    Serial serial(master, opt.verbose);
    Modem modem(serial, *FindProfile(opt.profile));
    serial.UseFaults(&modem.Fault());
    modem.SetPin(opt.pin);
    modem.Fault().silent = opt.wake - 1;
    std::ofstream recordFile;
    if (!opt.recordFile.empty()) {
        recordFile.open(opt.recordFile, std::ios::app);
        modem.SetRecordSink(AppendRecord, &recordFile);
    }
    if (opt.verbose)
        std::cerr << "modemsim: " << opt.link << " -> " << slaveName << ", control " << opt.control << "\n";

    std::list<Client> clients;
    bool running = true;
    while (running) {
        const int timeout = serial.Pump();
        std::vector<pollfd> fds = {{master, POLLIN, 0}, {listener, POLLIN, 0}, {sigfd, POLLIN, 0}};
        for (const auto& c : clients)
            fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            char buf[1024];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                if (opt.verbose)
                    std::cerr << "modemsim < " << Printable(std::string(buf, static_cast<size_t>(n))) << "\n";
                modem.Input(std::string_view(buf, static_cast<size_t>(n)));
            }
        }
        if (fds[2].revents & POLLIN)
            running = false;
        size_t k = 3;
        for (auto it = clients.begin(); it != clients.end(); ++k) {
            bool closed = false;
            if (fds[k].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[4096];
                const ssize_t n = ::read(it->fd, buf, sizeof buf);
                if (n <= 0 && !(n < 0 && errno == EAGAIN)) {
                    closed = true;
                } else if (n > 0) {
                    it->in.append(buf, static_cast<size_t>(n));
                    size_t nl;
                    while ((nl = it->in.find('\n')) != std::string::npos) {
                        const ControlResult r = HandleControl(modem, it->in.substr(0, nl));
                        it->in.erase(0, nl + 1);
                        it->out += r.reply;
                        if (r.quit)
                            running = false;
                    }
                }
            }
            if (!closed && !it->out.empty()) {
                const ssize_t n = ::send(it->fd, it->out.data(), it->out.size(), MSG_NOSIGNAL);
                if (n > 0)
                    it->out.erase(0, static_cast<size_t>(n));
                else if (n < 0 && errno != EAGAIN)
                    closed = true;
            }
            if (closed) {
                ::close(it->fd);
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
        // Accepted last, so that the poll entries above match the clients walked.
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0)
                clients.push_back({fd, {}, {}});
        }
    }
    // Let the last answers (a QUIT's OK) reach their readers before closing.
    for (auto& c : clients) {
        if (!c.out.empty()) {
            ::fcntl(c.fd, F_SETFL, 0);
            (void)::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        }
        ::close(c.fd);
    }
    serial.Pump();
    ::unlink(opt.link.c_str());
    ::unlink(opt.control.c_str());
    ::close(listener);
    ::close(slave);
    ::close(master);
    return 0;
}
