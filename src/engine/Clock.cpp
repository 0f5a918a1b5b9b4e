#include "engine/Clock.h"

#include <ctime>

int CGatewayClock::LocalHour() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour;
}

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
