#pragma once
// Time as the engine sees it: the device layers' clock plus the local hour.
// Production uses CGatewayClock; tests drive the engine on a fake clock.
#include "link/Clock.h"

#include <atomic>

class IGatewayClock : public IClock {
public:
    virtual int LocalHour() = 0;  // 0..23
    virtual long long WallMs() = 0;  // wall clock, ms since the epoch (survives a restart)
};

class CGatewayClock : public IGatewayClock {
public:
    long long NowMs() override { return SystemClock().NowMs(); }
    void SleepMs(int ms) override { SystemClock().SleepMs(ms); }
    int LocalHour() override;
    long long WallMs() override;
};

// Sleeps `count` slices of `sliceMs`, checking the stop flag before each slice.
// Returns false when a stop request cut the wait short.
bool SleepSlices(IClock& clock, const std::atomic<int>& stop, int count, int sliceMs);
