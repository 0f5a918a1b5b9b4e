#pragma once
// The process as a service: status reports to the service manager (the sd_notify
// protocol), the stop control, error entries in the system log, and the modal run of
// the main window in the service body and in the foreground modes.
#include "shell/StopSignals.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

// Service states and controls, numbered as the status record has always numbered them.
enum : int {
    SERVICE_STOPPED = 1,
    SERVICE_START_PENDING = 2,
    SERVICE_STOP_PENDING = 3,
    SERVICE_RUNNING = 4,
};
constexpr int SERVICE_OWN_PROCESS = 16;
constexpr int SERVICE_ACCEPT_STOP = 1;
constexpr int SERVICE_CONTROL_STOP = 1;
constexpr int SERVICE_CONTROL_INTERROGATE = 4;

// The command the stop control posts to the main window: the tray menu's "Stop && Exit...".
constexpr int STOP_AND_EXIT_COMMAND = 32772;

struct ServiceStatusRecord {
    int serviceType = SERVICE_OWN_PROCESS;
    int currentState = SERVICE_STOPPED;
    int controlsAccepted = 0;
    int exitCode = 0;
    int serviceSpecificExitCode = 0;
    int checkPoint = 0;
    int waitHint = 0;  // milliseconds
};

// The datagram that tells the service manager about a status record.
std::string StatusNotification(const ServiceStatusRecord& status);

// Where status reports go: sd_notify in production.
class IStatusNotifier {
public:
    virtual ~IStatusNotifier() = default;
    // True when the process was started by a service manager that listens.
    virtual bool Available() = 0;
    // True when the message was delivered; otherwise the error is left with SetLastErrorCode.
    virtual bool Notify(const std::string& message) = 0;
    // The watchdog interval the service manager asked this process for, in microseconds;
    // 0 when it watches nothing.
    virtual std::uint64_t WatchdogUsec() { return 0; }
};

class CSdNotifier : public IStatusNotifier {
public:
    bool Available() override;
    bool Notify(const std::string& message) override;
    std::uint64_t WatchdogUsec() override;
};

// The application event log: syslog in production.
class IEventLog {
public:
    virtual ~IEventLog() = default;
    virtual void ReportError(const std::string& first, const std::string& second) = 0;
};

class CSyslogEventLog : public IEventLog {
public:
    void ReportError(const std::string& first, const std::string& second) override;
};

// Shows a status text in the service manager's view of the service (systemctl status);
// does nothing unless a service manager started the process.
void NotifyServiceStatusText(const std::string& text);

class CServiceProcess {
public:
    // `runDialog` runs the main window modally and returns its result; while it runs it
    // records the window with RecordDialog so that the stop control can reach it.
    CServiceProcess(std::string serviceName, std::string displayName, IStatusNotifier& notifier,
                    IEventLog& eventLog, std::FILE* out, std::function<int()> runDialog);

    // Set by the foreground switches: no status reports and no event-log entries then.
    int m_bForeground = 0;

    // Runs the service body when a service manager started the process; false (last
    // error set) otherwise. The service's exit code is then ExitCode().
    bool StartServiceCtrlDispatcher();
    void ServiceMain(int argc, char** argv);
    void ServiceControlHandler(int control);
    bool ReportStatusToSCMgr(int state, int exitCode, int waitHint);
    void LogServiceError(const std::string& text);
    // Writes "Debugging %s.\n" and runs the main window modally; returns its result.
    int RunInForeground();

    // The window the stop control posts its command to; `post` must be callable from any
    // thread. A stop control that arrived while no window was recorded is posted at once.
    void RecordDialog(std::function<void(int command)> post);
    void ForgetDialog();

    // Feeds the service manager's watchdog ("WATCHDOG=1"); callable from any thread while
    // the service body runs. Empty when no watchdog was asked for, or in the foreground.
    std::function<void()> WatchdogFeeder();

    int ExitCode() const { return m_nLastError; }
    ServiceStatusRecord Status() const;

private:
    bool SetServiceStatus();
    int RunDialogWithStopControl();

    std::string m_strServiceName;
    std::string m_strDisplayName;
    IStatusNotifier& m_notifier;
    IEventLog& m_eventLog;
    std::FILE* m_out;
    std::function<int()> m_runDialog;
    CStopSignals m_signals;

    mutable std::mutex m_statusMutex;
    ServiceStatusRecord m_status;
    int m_nCheckPoint = 1;
    std::atomic<int> m_nLastError{0};

    std::mutex m_dialogMutex;
    std::function<void(int)> m_postToDialog;
    bool m_bStopPending = false;
};
