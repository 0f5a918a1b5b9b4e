#include "engine/Worker.h"

#include <algorithm>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr int RUNNING_PASS_MS = 500;
constexpr int PAUSED_PASS_MS = 1000;
constexpr int WAIT_FEED_MS = 1000;
// Between two checks of the stores' counts, for messages that came without indication;
// the same period as the device information, so both share one wake-up.
constexpr std::uint32_t STORE_CHECK_PASSES = 10;
constexpr std::uint32_t DEVICE_INFO_PASSES = 10;
constexpr std::uint32_t STORE_SCAN_PASSES = 60;

// The next tick after `tick` on which a periodic step is due.
std::uint32_t NextDueTick(std::uint32_t tick, std::uint32_t interval) {
    std::uint32_t next = tick + 1;
    while (next % DEVICE_INFO_PASSES != 0 && next % interval != 0 && next % STORE_SCAN_PASSES != 0 &&
           next % STORE_CHECK_PASSES != 0)
        ++next;
    return next;
}

}  // namespace

CWorker::CWorker(CGateway& gateway, CSettings& settings, RunState& run, CStatusBoard& status, IGatewayClock& clock)
    : m_gateway(gateway),
      m_settings(settings),
      m_run(run),
      m_status(status),
      m_clock(clock),
      m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CWorker::~CWorker() {
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

void CWorker::Wake() {
    const std::uint64_t one = 1;
    if (m_wakeFd >= 0) (void)!::write(m_wakeFd, &one, sizeof one);
}

int CWorker::WorkerThreadProc() {
    m_nTicks = 0;
    while (!m_run.m_bStop) Pass();
    m_run.m_bStop = 0;
    return 1;
}

void CWorker::FeedWatchdogWhileWaiting() {
    if (!m_feedWatchdog || std::this_thread::get_id() != m_passThread.load()) return;
    const long long now = m_clock.NowMs();
    if (now - m_lastFeedMs < WAIT_FEED_MS) return;
    m_lastFeedMs = now;
    m_feedWatchdog();
}

void CWorker::Pass() {
    const std::uint32_t tick = m_nTicks.load();
    const long long start = m_clock.NowMs();
    m_passThread = std::this_thread::get_id();
    if (m_feedWatchdog) {
        m_lastFeedMs = start;
        m_feedWatchdog();
    }
    if (m_run.m_bRunning == 1) {
        m_gateway.ConnectLinks();
        m_gateway.CheckReports();
    } else {
        m_gateway.DisconnectLinks();
    }

    if (m_run.m_bRunning == 0) {
        m_status.SetStatus(STATUS_PAUSED);
        WaitUntil(start + PAUSED_PASS_MS, false);
        m_nTicks = tick + 1;
        return;
    }

    // Indications first: a direct message reaches the spool before any database step can
    // keep the pass waiting on a busy database.
    m_gateway.ReceiveMessages();
    const std::uint32_t interval = m_settings.m_nQueryInterval >= 1 ? m_settings.m_nQueryInterval : 1;
    if (tick % DEVICE_INFO_PASSES == 0) m_gateway.RefreshDeviceInfo();
    if (tick % interval == 0) m_gateway.CountUnsent();

    if (m_run.m_bDatabaseLinked == 1) {
        if (tick % interval == 0 && m_gateway.SendingAllowed()) m_gateway.SendPending();
        if (tick % STORE_SCAN_PASSES == 0)
            m_gateway.ScanStorage();
        else if (tick % STORE_CHECK_PASSES == 0)
            m_gateway.CheckStores();
    }

    // A link that is down keeps its failure (or the SIM's condition) on display until it
    // is up again, instead of alternating with "Idle." every pass.
    const bool linked = m_run.m_bDatabaseLinked == 1 && m_run.m_bDeviceLinked == 1;
    if (m_run.m_bDeviceLinked == 0)
        m_status.SetStatus(m_status.Condition() ? m_status.Condition() : STATUS_GSM_CONNECT_FAILED);
    else if (m_run.m_bDatabaseLinked == 0)
        m_status.SetStatus(STATUS_DB_CONNECT_FAILED);
    else
        m_status.SetStatus(m_gateway.IdleStatus());

    // A link that is down is tried again after a full pause. With both links up, the
    // passes up to the next periodic step would only poll, which input from the modem
    // does at once: they are counted, not run, and the periods keep their time.
    if (!linked) {
        WaitUntil(m_clock.NowMs() + RUNNING_PASS_MS, m_run.m_bDeviceLinked == 1);
        m_nTicks = tick + 1;
        return;
    }
    const std::uint32_t due = NextDueTick(tick, interval);
    WaitUntil(start + static_cast<long long>(due - tick) * RUNNING_PASS_MS, true);
    // A wake-up may end the wait early: only the passes whose time has come are counted.
    const long long elapsed = (m_clock.NowMs() - start + RUNNING_PASS_MS / 2) / RUNNING_PASS_MS;
    m_nTicks = tick + static_cast<std::uint32_t>(std::clamp<long long>(elapsed, 1, due - tick));
}

void CWorker::WaitUntil(long long deadline, bool watchModem) {
    int input = watchModem ? m_gateway.Modem().InputDescriptor() : -1;
    for (;;) {
        const long long left = deadline - m_clock.NowMs();
        if (m_run.m_bStop || left <= 0) return;
        switch (m_clock.WaitForEvent(m_wakeFd, input, static_cast<int>(left))) {
        case WaitResult::Timeout:
        case WaitResult::Woken:
            return;
        case WaitResult::InputClosed:
            input = -1;  // a link that hung up is left to the next pass
            break;
        case WaitResult::Input:
            // Read at once: an indication not complete yet is taken when the rest arrives.
            if (m_run.m_bRunning == 1 && m_run.m_bDeviceLinked == 1)
                m_gateway.TakeIndications();
            else
                input = -1;
            break;
        }
    }
}
