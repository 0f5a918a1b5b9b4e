#pragma once
// The worker loop: one pass per tick, running every engine step on its period.
#include "engine/Gateway.h"

#include <cstdint>

class CWorker {
public:
    CWorker(CGateway& gateway, CSettings& settings, RunState& run, CStatusBoard& status, IGatewayClock& clock);

    // Runs passes until m_bStop is set, then clears m_bStop to tell the shutdown
    // timer that the loop has ended. Returns 1.
    int WorkerThreadProc();
    // One pass of the loop (exposed so tests can step it).
    void Pass();
    std::uint32_t Ticks() const { return m_nTicks.load(); }

private:
    CGateway& m_gateway;
    CSettings& m_settings;
    RunState& m_run;
    CStatusBoard& m_status;
    IGatewayClock& m_clock;
    std::atomic<std::uint32_t> m_nTicks{0};
};
