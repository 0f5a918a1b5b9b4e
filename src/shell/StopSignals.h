#pragma once
// SIGTERM and SIGINT as the service manager's stop control. The signal handler only
// writes a byte to a pipe; a control thread reads it and calls the stop callback, so
// the callback may take locks and post to the window like any other thread.
#include <functional>
#include <thread>

class CStopSignals {
public:
    CStopSignals() = default;
    ~CStopSignals();
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    // Installs the handlers and starts the control thread; false (errno set) when that
    // fails or another instance is active.
    bool Start(std::function<void()> onStop);
    // Restores the previous handlers and ends the control thread.
    void Stop();

private:
    void Run();

    std::function<void()> m_onStop;
    std::thread m_thread;
    bool m_bStarted = false;
};
