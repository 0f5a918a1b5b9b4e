#pragma once
// Time and waiting services of the device layers. Every wait in the transports and the
// driver goes through one of these, so tests can run the multi-second waits on a
// simulated clock and a shutdown can cut every wait short.
#include <atomic>
#include <ctime>
#include <functional>
#include <string>

class IClock {
public:
    virtual ~IClock() = default;
    // Millisecond tick counter (monotonic).
    virtual long long NowMs() = 0;
    // Sleeps one slice; callers keep slices short (20 or 50 ms).
    virtual void SleepMs(int ms) = 0;
    // Sleeps one slice, ending early when input arrives on fd. A simulated clock only
    // sleeps, since time moves only when it says so.
    virtual void SleepUntilReadable(int /*fd*/, int ms) { SleepMs(ms); }
    // Runs between the slices of a wait. The worker thread owns no windows whose messages
    // it would dispatch; the system clock runs its pump here.
    virtual void PumpMessages() {}
    // True once a shutdown asked every wait to end early.
    virtual bool StopRequested() { return false; }
};

class CSystemClock : public IClock {
public:
    long long NowMs() override;
    void SleepMs(int ms) override;
    void SleepUntilReadable(int fd, int ms) override;
    bool StopRequested() override;
    // Runs the pump set with SetPump, if any.
    void PumpMessages() override;
    // The process shell installs a test of its stop flag here.
    void SetStopCheck(std::function<bool()> check);
    // What runs in every slice of a wait, on the waiting thread (the process shell feeds
    // the service manager's watchdog from here). Set before the threads that wait start.
    void SetPump(std::function<void()> pump);

private:
    std::function<bool()> m_stopCheck;
    std::function<void()> m_pump;
};

// The clock every production object uses.
CSystemClock& SystemClock();

// Sleeps ms in slices of sliceMs, pumping messages between slices; ends early when a stop
// is requested. Returns false when it ended early.
bool SlicedSleep(IClock& clock, int ms, int sliceMs);

// `when` in local time as "YYYY-MM-DD hh:mm:ss".
std::string LocalTimeText(std::time_t when);
