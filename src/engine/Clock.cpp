#include "engine/Clock.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <poll.h>
#include <unistd.h>

int CGatewayClock::LocalHour() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour;
}

void CGatewayClock::SleepMs(int ms) { SlicedSleep(SystemClock(), ms, 100); }

long long CGatewayClock::WallMs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

bool SleepSlices(IClock& clock, const std::atomic<int>& stop, int count, int sliceMs) {
    for (int i = 0; i < count; ++i) {
        if (stop.load()) return false;
        clock.SleepMs(sliceMs);
    }
    return true;
}

WaitResult IGatewayClock::WaitForEvent(int wakeFd, int inputFd, int timeoutMs) {
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {inputFd, POLLIN, 0}};
    const nfds_t count = inputFd >= 0 ? 2 : 1;
    int ready = -1;
    do {
        ready = ::poll(fds, count, timeoutMs > 0 ? timeoutMs : 0);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return WaitResult::Timeout;
    if (fds[0].revents & POLLIN) {
        std::uint64_t value = 0;
        (void)!::read(wakeFd, &value, sizeof value);
        return WaitResult::Woken;
    }
    if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) return WaitResult::InputClosed;
    return WaitResult::Input;
}
