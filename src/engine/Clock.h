#pragma once
// Time as the engine sees it: the device layers' clock plus the local hour.
// Production uses CGatewayClock; tests drive the engine on a fake clock.
#include "link/Clock.h"

#include <atomic>

// What ended a wait of the worker.
enum class WaitResult { Timeout, Woken, Input, InputClosed };

class IGatewayClock : public IClock {
public:
    virtual int LocalHour() = 0;  // 0..23
    virtual long long WallMs() = 0;  // wall clock, ms since the epoch (survives a restart)
    // Waits up to timeoutMs for the wake-up descriptor or for input on inputFd (-1: none),
    // without waking in between. The wake-up descriptor (an eventfd) is drained.
    virtual WaitResult WaitForEvent(int wakeFd, int inputFd, int timeoutMs);
};

class CGatewayClock : public IGatewayClock {
public:
    long long NowMs() override { return SystemClock().NowMs(); }
    // In slices of 100 ms with the system clock's pump between them; ends early once a
    // stop is requested, so a long pause between two submissions delays no shutdown.
    void SleepMs(int ms) override;
    int LocalHour() override;
    long long WallMs() override;
};

// Sleeps `count` slices of `sliceMs`, checking the stop flag before each slice.
// Returns false when a stop request cut the wait short.
bool SleepSlices(IClock& clock, const std::atomic<int>& stop, int count, int sliceMs);
