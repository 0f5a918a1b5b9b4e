#include "link/Journal.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int FACILITY_DAEMON = 3 << 3;
constexpr const char* IDENTIFIER = "orvane-pellwick";

std::mutex g_mutex;
std::string g_socketPath = "/dev/log";
std::string g_lastError;
constexpr std::size_t MAX_LAST_ERROR_BYTES = 300;

}  // namespace

std::string LastJournalError() {
    std::lock_guard lock(g_mutex);
    return g_lastError;
}

void SetJournalSocket(const std::string& path) {
    std::lock_guard lock(g_mutex);
    g_socketPath = path;
}

void Journal(JournalPriority priority, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);

    // The traditional local syslog line: <priority>time identifier[pid]: text
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
    char head[96];
    std::snprintf(head, sizeof head, "<%d>%s %s[%d]: ", FACILITY_DAEMON | priority, stamp, IDENTIFIER,
                  static_cast<int>(::getpid()));
    std::string line = head;
    line += text.data();
    while (!line.empty() && line.back() == '\n') line.pop_back();

    std::lock_guard lock(g_mutex);
    if (priority <= JOURNAL_ERR) {
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S ", &local);
        g_lastError = when + std::string(text.data()).substr(0, MAX_LAST_ERROR_BYTES);
        for (char& c : g_lastError)
            if (c == '\n' || c == '\r') c = ' ';
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (g_socketPath.size() >= sizeof address.sun_path) return;
    g_socketPath.copy(address.sun_path, g_socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    // A full or missing journal drops the line: the gateway never waits on it.
    [[maybe_unused]] ssize_t sent = ::sendto(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                             reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
}
