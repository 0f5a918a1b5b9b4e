#include "engine/Clock.h"

#include <ctime>

int CGatewayClock::LocalHour() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour;
}

bool SleepSlices(IClock& clock, const std::atomic<int>& stop, int count, int sliceMs) {
    for (int i = 0; i < count; ++i) {
        if (stop.load()) return false;
        clock.SleepMs(sliceMs);
    }
    return true;
}
