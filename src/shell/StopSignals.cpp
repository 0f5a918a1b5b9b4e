#include "shell/StopSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr char STOP_SIGNAL = 'S';
constexpr char QUIT_THREAD = 'Q';

std::atomic<int> g_writeFd{-1};
int g_readFd = -1;
struct sigaction g_oldTerm {};
struct sigaction g_oldInt {};

extern "C" void OnStopSignal(int) {
    int saved = errno;
    int fd = g_writeFd.load();
    if (fd >= 0) {
        char c = STOP_SIGNAL;
        [[maybe_unused]] ssize_t n = ::write(fd, &c, 1);
    }
    errno = saved;
}

}  // namespace

CStopSignals::~CStopSignals() { Stop(); }

bool CStopSignals::Start(std::function<void()> onStop) {
    if (m_bStarted || g_writeFd.load() >= 0) {
        errno = EBUSY;
        return false;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    g_readFd = fds[0];
    g_writeFd = fds[1];

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &action, &g_oldTerm) != 0 || ::sigaction(SIGINT, &action, &g_oldInt) != 0) {
        int saved = errno;
        ::sigaction(SIGTERM, &g_oldTerm, nullptr);
        g_writeFd = -1;
        ::close(fds[0]);
        ::close(fds[1]);
        errno = saved;
        return false;
    }
    m_onStop = std::move(onStop);
    m_bStarted = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CStopSignals::Run() {
    for (;;) {
        struct pollfd p {g_readFd, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        char buffer[16];
        ssize_t n = ::read(g_readFd, buffer, sizeof buffer);
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == QUIT_THREAD) return;
            if (m_onStop) m_onStop();
        }
    }
}

void CStopSignals::Stop() {
    if (!m_bStarted) return;
    ::sigaction(SIGTERM, &g_oldTerm, nullptr);
    ::sigaction(SIGINT, &g_oldInt, nullptr);
    char c = QUIT_THREAD;
    [[maybe_unused]] ssize_t n = ::write(g_writeFd.load(), &c, 1);
    m_thread.join();
    int writeFd = g_writeFd.exchange(-1);
    ::close(writeFd);
    ::close(g_readFd);
    g_readFd = -1;
    m_bStarted = false;
}
