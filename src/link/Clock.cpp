#include "link/Clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

long long CSystemClock::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void CSystemClock::SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool CSystemClock::StopRequested() { return m_stopCheck && m_stopCheck(); }

void CSystemClock::SetStopCheck(std::function<bool()> check) { m_stopCheck = std::move(check); }

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
