#include "link/Clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <poll.h>

long long CSystemClock::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void CSystemClock::SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void CSystemClock::SleepUntilReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ms > 0 ? ::poll(&p, 1, ms) : 0;
    // A line that hung up stays "ready" without input: the slice is slept in full.
    if (ready > 0 && !(p.revents & POLLIN)) SleepMs(ms);
}

bool CSystemClock::StopRequested() { return m_stopCheck && m_stopCheck(); }

void CSystemClock::SetStopCheck(std::function<bool()> check) { m_stopCheck = std::move(check); }

void CSystemClock::PumpMessages() {
    if (m_pump) m_pump();
}

void CSystemClock::SetPump(std::function<void()> pump) { m_pump = std::move(pump); }

CSystemClock& SystemClock() {
    static CSystemClock clock;
    return clock;
}

bool SlicedSleep(IClock& clock, int ms, int sliceMs) {
    const long long end = clock.NowMs() + ms;
    for (;;) {
        if (clock.StopRequested()) return false;
        const long long left = end - clock.NowMs();
        if (left <= 0) return true;
        clock.PumpMessages();
        clock.SleepMs(static_cast<int>(std::min<long long>(left, sliceMs)));
    }
}

std::string LocalTimeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}
