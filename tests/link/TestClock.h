#pragma once
// A simulated clock: sleeping advances time at once, so waits of seconds cost nothing.
// Hooks let a test act from inside a wait (a message dispatched, a stop requested).
#include "link/Clock.h"

#include <functional>

class TestClock : public IClock {
public:
    long long NowMs() override {
        const long long now = m_now;
        m_now += m_advancePerRead;
        return now;
    }
    void SleepMs(int ms) override {
        m_now += ms;
        m_slept += ms;
        ++m_sleeps;
        if (m_onSleep) m_onSleep();
    }
    void PumpMessages() override {
        ++m_pumps;
        if (m_onPump) m_onPump();
    }
    bool StopRequested() override { return m_stop; }

    long long m_now = 1000000;
    long long m_advancePerRead = 0;  // time passing on every reading of the clock
    long long m_slept = 0;
    int m_sleeps = 0;
    int m_pumps = 0;
    bool m_stop = false;
    std::function<void()> m_onSleep;
    std::function<void()> m_onPump;
};
