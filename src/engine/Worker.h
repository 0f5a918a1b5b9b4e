#pragma once
// The worker loop: one pass per tick, running every engine step on its period. Between
// passes it sleeps on events only: the wake-up signal, input from the modem (handled at
// once) and the start of the next pass.
#include "engine/Gateway.h"

#include <cstdint>
#include <functional>
#include <thread>

class CWorker {
public:
    CWorker(CGateway& gateway, CSettings& settings, RunState& run, CStatusBoard& status, IGatewayClock& clock);
    ~CWorker();
    CWorker(const CWorker&) = delete;
    CWorker& operator=(const CWorker&) = delete;

    // Runs passes until m_bStop is set, then clears m_bStop to tell the shutdown
    // timer that the loop has ended. Returns 1.
    int WorkerThreadProc();
    // One pass of the loop (exposed so tests can step it).
    void Pass();
    // Ends the wait between passes at once, so a change of the run state (pause, start,
    // stop) takes effect now. Callable from any thread.
    void Wake();
    std::uint32_t Ticks() const { return m_nTicks.load(); }

    // Feeds the service manager's watchdog: at the start of every pass, and through
    // FeedWatchdogWhileWaiting inside a step. Empty: no watchdog. Set before the loop runs.
    void SetWatchdog(std::function<void()> feed) { m_feedWatchdog = std::move(feed); }
    // Called from the bounded waits inside the steps (a submission may wait minutes on the
    // modem): feeds the watchdog at most once a second, and only when called on the thread
    // that runs the passes. Callable from any thread.
    void FeedWatchdogWhileWaiting();

private:
    // Sleeps until the deadline (clock time), a wake-up or a stop; with watchModem, input
    // from the modem is handled as it arrives.
    void WaitUntil(long long deadline, bool watchModem);

    CGateway& m_gateway;
    CSettings& m_settings;
    RunState& m_run;
    CStatusBoard& m_status;
    IGatewayClock& m_clock;
    std::atomic<std::uint32_t> m_nTicks{0};
    int m_wakeFd = -1;
    std::function<void()> m_feedWatchdog;
    std::atomic<std::thread::id> m_passThread;
    long long m_lastFeedMs = 0;  // the pass thread's only
};
