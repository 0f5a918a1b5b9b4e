#include "shell/ServiceProcess.h"

#include "link/Journal.h"
#include "shell/LastError.h"

#include <cerrno>
#include <cstdlib>
#include <systemd/sd-daemon.h>

std::string StatusNotification(const ServiceStatusRecord& status) {
    std::string message;
    auto extend = [&] {
        if (status.waitHint > 0)
            message += "\nEXTEND_TIMEOUT_USEC=" + std::to_string(static_cast<long long>(status.waitHint) * 1000);
    };
    switch (status.currentState) {
    case SERVICE_START_PENDING:
        message = "STATUS=Start pending";
        extend();
        break;
    case SERVICE_RUNNING:
        message = "READY=1\nSTATUS=Running";
        break;
    case SERVICE_STOP_PENDING:
        message = "STOPPING=1\nSTATUS=Stop pending";
        extend();
        break;
    default:
        message = "STATUS=Stopped";
        if (status.exitCode != 0) message += "\nERRNO=" + std::to_string(status.exitCode);
        break;
    }
    return message;
}

void NotifyServiceStatusText(const std::string& text) {
    std::string message = "STATUS=" + text;
    // A line end would start another field of the datagram.
    for (char& c : message)
        if (c == '\n') c = ' ';
    sd_notify(0, message.c_str());
}

bool CSdNotifier::Available() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket && *socket;
}

bool CSdNotifier::Notify(const std::string& message) {
    int r = sd_notify(0, message.c_str());
    if (r > 0) return true;
    SetLastErrorCode(r < 0 ? -r : ENOTCONN);
    return false;
}

std::uint64_t CSdNotifier::WatchdogUsec() {
    std::uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

void CSyslogEventLog::ReportError(const std::string& first, const std::string& second) {
    Journal(JOURNAL_ERR, "%s: %s", first.c_str(), second.c_str());
}

CServiceProcess::CServiceProcess(std::string serviceName, std::string displayName, IStatusNotifier& notifier,
                                 IEventLog& eventLog, std::FILE* out, std::function<int()> runDialog)
    : m_strServiceName(std::move(serviceName)),
      m_strDisplayName(std::move(displayName)),
      m_notifier(notifier),
      m_eventLog(eventLog),
      m_out(out),
      m_runDialog(std::move(runDialog)) {}

std::function<void()> CServiceProcess::WatchdogFeeder() {
    if (m_bForeground || m_notifier.WatchdogUsec() == 0) return {};
    return [&notifier = m_notifier] { notifier.Notify("WATCHDOG=1"); };
}

ServiceStatusRecord CServiceProcess::Status() const {
    std::lock_guard lock(m_statusMutex);
    return m_status;
}

bool CServiceProcess::StartServiceCtrlDispatcher() {
    if (!m_notifier.Available()) {
        SetLastErrorCode(ENOTCONN, "Not started by the service manager");
        return false;
    }
    ServiceMain(0, nullptr);
    return true;
}

void CServiceProcess::ServiceMain(int /*argc*/, char** /*argv*/) {
    if (!m_signals.Start([this] { ServiceControlHandler(SERVICE_CONTROL_STOP); })) return;
    {
        std::lock_guard lock(m_statusMutex);
        m_status.serviceType = SERVICE_OWN_PROCESS;
        m_status.serviceSpecificExitCode = 0;
    }
    if (ReportStatusToSCMgr(SERVICE_START_PENDING, 0, 3000) && ReportStatusToSCMgr(SERVICE_RUNNING, 0, 0))
        RunDialogWithStopControl();
    ReportStatusToSCMgr(SERVICE_STOPPED, m_nLastError, 0);
    m_signals.Stop();
}

int CServiceProcess::RunInForeground() {
    std::fprintf(m_out, "Debugging %s.\n", m_strDisplayName.c_str());
    std::fflush(m_out);
    bool signals = m_signals.Start([this] { ServiceControlHandler(SERVICE_CONTROL_STOP); });
    int result = RunDialogWithStopControl();
    if (signals) m_signals.Stop();
    return result;
}

int CServiceProcess::RunDialogWithStopControl() {
    int result = m_runDialog ? m_runDialog() : 0;
    ForgetDialog();
    return result;
}

void CServiceProcess::ServiceControlHandler(int control) {
    if (control == SERVICE_CONTROL_STOP) {
        ReportStatusToSCMgr(SERVICE_STOP_PENDING, 0, 0);
        std::lock_guard lock(m_dialogMutex);
        if (m_postToDialog)
            m_postToDialog(STOP_AND_EXIT_COMMAND);
        else
            m_bStopPending = true;  // delivered when the window is recorded
        return;
    }
    ServiceStatusRecord current = Status();
    ReportStatusToSCMgr(current.currentState, current.exitCode, current.waitHint);
}

bool CServiceProcess::ReportStatusToSCMgr(int state, int exitCode, int waitHint) {
    if (m_bForeground) return true;
    {
        std::lock_guard lock(m_statusMutex);
        m_status.controlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
        m_status.currentState = state;
        m_status.exitCode = exitCode;
        m_status.waitHint = waitHint;
        m_status.checkPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : m_nCheckPoint++;
    }
    bool ok = SetServiceStatus();
    if (!ok) LogServiceError("SetServiceStatus");
    return ok;
}

bool CServiceProcess::SetServiceStatus() { return m_notifier.Notify(StatusNotification(Status())); }

void CServiceProcess::LogServiceError(const std::string& text) {
    if (m_bForeground) return;
    const int code = GetLastErrorCode();
    m_nLastError = code;
    char first[512];
    std::snprintf(first, sizeof first, "%s error: %d", m_strServiceName.c_str(), code);
    m_eventLog.ReportError(first, text);
}

void CServiceProcess::RecordDialog(std::function<void(int)> post) {
    std::lock_guard lock(m_dialogMutex);
    m_postToDialog = std::move(post);
    // A stop that came while the window was being created must not be lost.
    if (m_postToDialog && m_bStopPending) {
        m_bStopPending = false;
        m_postToDialog(STOP_AND_EXIT_COMMAND);
    }
}

void CServiceProcess::ForgetDialog() {
    std::lock_guard lock(m_dialogMutex);
    m_postToDialog = nullptr;
}
