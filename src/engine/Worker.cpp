#include "engine/Worker.h"

CWorker::CWorker(CGateway& gateway, CSettings& settings, RunState& run, CStatusBoard& status, IGatewayClock& clock)
    : m_gateway(gateway), m_settings(settings), m_run(run), m_status(status), m_clock(clock) {}

int CWorker::WorkerThreadProc() {
    m_nTicks = 0;
    while (!m_run.m_bStop) Pass();
    m_run.m_bStop = 0;
    return 1;
}

void CWorker::Pass() {
    const std::uint32_t tick = m_nTicks.load();
    if (m_run.m_bRunning == 1) {
        m_gateway.ConnectLinks();
        m_gateway.CheckReports();
    } else {
        m_gateway.DisconnectLinks();
    }

    if (m_run.m_bRunning == 0) {
        m_status.SetStatus(STATUS_PAUSED);
        SleepSlices(m_clock, m_run.m_bStop, 10, 100);
        m_nTicks = tick + 1;
        return;
    }

    const std::uint32_t interval = m_settings.m_nQueryInterval >= 1 ? m_settings.m_nQueryInterval : 1;
    if (tick % 10 == 0) m_gateway.RefreshDeviceInfo();
    if (tick % interval == 0) m_gateway.CountUnsent();

    if (m_run.m_bDatabaseLinked == 1) {
        if (tick % interval == 0 && m_gateway.SendingAllowed()) m_gateway.SendPending();
        if (tick % 60 == 0) m_gateway.ScanStorage();
    } else if (m_run.m_bDeviceLinked == 0) {
        m_status.SetStatus(STATUS_GSM_CONNECT_FAILED);
    } else if (m_run.m_bDatabaseLinked == 0) {
        m_status.SetStatus(STATUS_DB_CONNECT_FAILED);
    }
    m_gateway.ReceiveMessages();

    m_status.SetStatus(m_run.m_bRunning == 1 ? STATUS_IDLE : STATUS_PAUSED);
    SleepSlices(m_clock, m_run.m_bStop, 5, 100);
    m_nTicks = tick + 1;
}
