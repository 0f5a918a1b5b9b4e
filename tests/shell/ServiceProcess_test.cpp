#include "shell/LastError.h"
#include "shell/ServiceProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

class FakeNotifier : public IStatusNotifier {
public:
    bool available = true;
    bool deliver = true;
    std::uint64_t watchdogUsec = 0;
    std::vector<std::string> messages;
    bool Available() override { return available; }
    std::uint64_t WatchdogUsec() override { return watchdogUsec; }
    bool Notify(const std::string& message) override {
        messages.push_back(message);
        if (!deliver) SetLastErrorCode(ECONNREFUSED);
        return deliver;
    }
};

class FakeEventLog : public IEventLog {
public:
    std::vector<std::pair<std::string, std::string>> entries;
    void ReportError(const std::string& first, const std::string& second) override {
        entries.emplace_back(first, second);
    }
};

// Stands in for the main window: runs until a command arrives, like a modal loop.
class FakeDialog {
public:
    std::function<void(CServiceProcess&)> onStart;  // runs once the window is recorded

    int Run(CServiceProcess& process) {
        process.RecordDialog([this](int command) { Post(command); });
        if (onStart) onStart(process);
        std::unique_lock lock(m_mutex);
        // Bounded so a broken stop path fails the test instead of hanging it.
        m_cv.wait_for(lock, std::chrono::seconds(20), [this] { return !m_commands.empty(); });
        return m_commands.empty() ? -1 : 0;
    }
    std::vector<int> Commands() {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }

private:
    void Post(int command) {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(command);
        m_cv.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<int> m_commands;
};

struct ProcessFixture : ::testing::Test {
    FakeNotifier notifier;
    FakeEventLog eventLog;
    FakeDialog dialog;
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    CServiceProcess process{"Orvane Pellwick", "Orvane Pellwick", notifier, eventLog, out,
                            [this] { return dialog.Run(process); }};
    ~ProcessFixture() override {
        std::fclose(out);
        std::free(buffer);
    }
    std::string Output() {
        std::fflush(out);
        return std::string(buffer, size);
    }
};

// A datagram socket standing in for the service manager's notification socket.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : m_path(path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        const char* old = std::getenv("NOTIFY_SOCKET");
        m_hadOld = old != nullptr;
        if (old) m_old = old;
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    }
    ~NotifySocket() {
        if (m_hadOld)
            ::setenv("NOTIFY_SOCKET", m_old.c_str(), 1);
        else
            ::unsetenv("NOTIFY_SOCKET");
        ::close(m_fd);
    }
    bool bound() const { return m_bound; }
    // Every datagram waiting now.
    std::vector<std::string> Drain() {
        std::vector<std::string> messages;
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0) break;
            char data[4096];
            ssize_t n = ::recv(m_fd, data, sizeof data, 0);
            if (n < 0) break;
            messages.emplace_back(data, static_cast<std::size_t>(n));
        }
        return messages;
    }

private:
    std::string m_path;
    int m_fd = -1;
    bool m_bound = false;
    bool m_hadOld = false;
    std::string m_old;
};

}  // namespace

TEST(StatusNotification, MessagePerState) {
    struct Case {
        int state;
        int exitCode;
        int waitHint;
        std::string expected;
    };
    const Case cases[] = {
        {SERVICE_START_PENDING, 0, 3000, "STATUS=Start pending\nEXTEND_TIMEOUT_USEC=3000000"},
        {SERVICE_START_PENDING, 0, 0, "STATUS=Start pending"},
        {SERVICE_RUNNING, 0, 0, "READY=1\nSTATUS=Running"},
        {SERVICE_STOP_PENDING, 0, 0, "STOPPING=1\nSTATUS=Stop pending"},
        {SERVICE_STOP_PENDING, 0, 5000, "STOPPING=1\nSTATUS=Stop pending\nEXTEND_TIMEOUT_USEC=5000000"},
        {SERVICE_STOPPED, 0, 0, "STATUS=Stopped"},
        {SERVICE_STOPPED, 107, 0, "STATUS=Stopped\nERRNO=107"},
    };
    for (const Case& c : cases) {
        ServiceStatusRecord r;
        r.currentState = c.state;
        r.exitCode = c.exitCode;
        r.waitHint = c.waitHint;
        EXPECT_EQ(StatusNotification(r), c.expected) << c.state;
    }
}

TEST_F(ProcessFixture, ReportsCountCheckPointsAndAcceptStop) {
    ASSERT_TRUE(process.ReportStatusToSCMgr(SERVICE_START_PENDING, 0, 3000));
    ServiceStatusRecord s = process.Status();
    EXPECT_EQ(s.serviceType, 16);
    EXPECT_EQ(s.controlsAccepted, 0);
    EXPECT_EQ(s.checkPoint, 1);
    EXPECT_EQ(s.waitHint, 3000);
    process.ReportStatusToSCMgr(SERVICE_START_PENDING, 0, 3000);
    EXPECT_EQ(process.Status().checkPoint, 2);
    process.ReportStatusToSCMgr(SERVICE_RUNNING, 0, 0);
    s = process.Status();
    EXPECT_EQ(s.checkPoint, 0);
    EXPECT_EQ(s.controlsAccepted, SERVICE_ACCEPT_STOP);
    process.ReportStatusToSCMgr(SERVICE_STOP_PENDING, 0, 0);
    EXPECT_EQ(process.Status().checkPoint, 3);
    process.ReportStatusToSCMgr(SERVICE_STOPPED, 5, 0);
    s = process.Status();
    EXPECT_EQ(s.checkPoint, 0);
    EXPECT_EQ(s.exitCode, 5);
    EXPECT_EQ(notifier.messages.size(), 5u);
    EXPECT_TRUE(eventLog.entries.empty());
}

TEST_F(ProcessFixture, ForegroundReportsNothingAndLogsNothing) {
    process.m_bForeground = 1;
    notifier.deliver = false;
    EXPECT_TRUE(process.ReportStatusToSCMgr(SERVICE_RUNNING, 0, 0));
    SetLastErrorCode(EPERM);
    process.LogServiceError("anything");
    EXPECT_TRUE(notifier.messages.empty());
    EXPECT_TRUE(eventLog.entries.empty());
    EXPECT_EQ(process.ExitCode(), 0);
}

TEST_F(ProcessFixture, FailedReportIsLogged) {
    notifier.deliver = false;
    EXPECT_FALSE(process.ReportStatusToSCMgr(SERVICE_RUNNING, 0, 0));
    ASSERT_EQ(eventLog.entries.size(), 1u);
    EXPECT_EQ(eventLog.entries[0].first, "Orvane Pellwick error: " + std::to_string(ECONNREFUSED));
    EXPECT_EQ(eventLog.entries[0].second, "SetServiceStatus");
    EXPECT_EQ(process.ExitCode(), ECONNREFUSED);
    EXPECT_EQ(Output(), "");
}

TEST_F(ProcessFixture, DispatcherFailsOutsideTheServiceManager) {
    notifier.available = false;
    EXPECT_FALSE(process.StartServiceCtrlDispatcher());
    process.LogServiceError("StartServiceCtrlDispatcher failed.");
    ASSERT_EQ(eventLog.entries.size(), 1u);
    EXPECT_EQ(eventLog.entries[0].first, "Orvane Pellwick error: " + std::to_string(ENOTCONN));
    EXPECT_EQ(eventLog.entries[0].second, "StartServiceCtrlDispatcher failed.");
    EXPECT_TRUE(notifier.messages.empty());
    EXPECT_TRUE(dialog.Commands().empty());
}

TEST_F(ProcessFixture, StopControlPostsStopAndExitToTheRecordedWindow) {
    std::vector<int> posted;
    process.RecordDialog([&](int command) { posted.push_back(command); });
    process.ServiceControlHandler(SERVICE_CONTROL_STOP);
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"STOPPING=1\nSTATUS=Stop pending"});
    EXPECT_EQ(posted, std::vector<int>{32772});
    process.ForgetDialog();
    process.ServiceControlHandler(SERVICE_CONTROL_STOP);
    EXPECT_EQ(posted.size(), 1u);
}

TEST_F(ProcessFixture, StopBeforeTheWindowExistsIsDeliveredOnce) {
    process.ServiceControlHandler(SERVICE_CONTROL_STOP);
    std::vector<int> posted;
    process.RecordDialog([&](int command) { posted.push_back(command); });
    EXPECT_EQ(posted, std::vector<int>{32772});
    process.ForgetDialog();
    process.RecordDialog([&](int command) { posted.push_back(command); });
    EXPECT_EQ(posted.size(), 1u);
}

TEST_F(ProcessFixture, OtherControlsReportTheCurrentStateAgain) {
    process.ReportStatusToSCMgr(SERVICE_RUNNING, 0, 0);
    std::vector<int> posted;
    process.RecordDialog([&](int command) { posted.push_back(command); });
    process.ServiceControlHandler(SERVICE_CONTROL_INTERROGATE);
    EXPECT_EQ(notifier.messages, (std::vector<std::string>{"READY=1\nSTATUS=Running", "READY=1\nSTATUS=Running"}));
    EXPECT_TRUE(posted.empty());
}

TEST_F(ProcessFixture, ServiceRunStoppedBySigterm) {
    TempDir dir;
    NotifySocket socket(dir.file("notify"));
    ASSERT_TRUE(socket.bound());
    CSdNotifier sdNotifier;
    CServiceProcess* running = nullptr;
    std::vector<std::string> beforeStop;
    FakeDialog window;
    window.onStart = [&](CServiceProcess&) {
        beforeStop = socket.Drain();
        ::kill(::getpid(), SIGTERM);
    };
    CServiceProcess real("Orvane Pellwick", "Orvane Pellwick", sdNotifier, eventLog, out,
                         [&] { return window.Run(*running); });
    running = &real;
    ASSERT_TRUE(real.StartServiceCtrlDispatcher());

    EXPECT_EQ(beforeStop, (std::vector<std::string>{"STATUS=Start pending\nEXTEND_TIMEOUT_USEC=3000000",
                                                     "READY=1\nSTATUS=Running"}));
    EXPECT_EQ(window.Commands(), std::vector<int>{32772});
    EXPECT_EQ(socket.Drain(), (std::vector<std::string>{"STOPPING=1\nSTATUS=Stop pending", "STATUS=Stopped"}));
    EXPECT_EQ(real.ExitCode(), 0);
    EXPECT_TRUE(eventLog.entries.empty());
    EXPECT_EQ(Output(), "");
}

TEST_F(ProcessFixture, ServiceRunCarriesTheRecordedErrorAsExitCode) {
    TempDir dir;
    NotifySocket socket(dir.file("notify"));
    ASSERT_TRUE(socket.bound());
    CSdNotifier sdNotifier;
    FakeDialog window;
    CServiceProcess* running = nullptr;
    window.onStart = [&](CServiceProcess& p) {
        SetLastErrorCode(EIO);
        p.LogServiceError("device failure");
        p.ServiceControlHandler(SERVICE_CONTROL_STOP);
    };
    CServiceProcess real("Orvane Pellwick", "Orvane Pellwick", sdNotifier, eventLog, out,
                         [&] { return window.Run(*running); });
    running = &real;
    real.ServiceMain(0, nullptr);
    std::vector<std::string> messages = socket.Drain();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "STATUS=Stopped\nERRNO=5");
    EXPECT_EQ(real.ExitCode(), EIO);
    ASSERT_EQ(eventLog.entries.size(), 1u);
    EXPECT_EQ(eventLog.entries[0].first, "Orvane Pellwick error: 5");
}

TEST_F(ProcessFixture, RefusedStartReportSkipsTheWindow) {
    notifier.deliver = false;
    bool ran = false;
    CServiceProcess real("Orvane Pellwick", "Orvane Pellwick", notifier, eventLog, out, [&] {
        ran = true;
        return 0;
    });
    real.ServiceMain(0, nullptr);
    EXPECT_FALSE(ran);
    ASSERT_FALSE(eventLog.entries.empty());
    EXPECT_EQ(eventLog.entries[0].second, "SetServiceStatus");
}

TEST_F(ProcessFixture, ForegroundRunEndsOnSigint) {
    process.m_bForeground = 1;
    dialog.onStart = [](CServiceProcess&) { ::kill(::getpid(), SIGINT); };
    EXPECT_EQ(process.RunInForeground(), 0);
    EXPECT_EQ(Output(), "Debugging Orvane Pellwick.\n");
    EXPECT_EQ(dialog.Commands(), std::vector<int>{32772});
    EXPECT_TRUE(notifier.messages.empty());
    EXPECT_TRUE(eventLog.entries.empty());
}

TEST_F(ProcessFixture, WatchdogFedOnlyWhenTheServiceManagerWatches) {
    struct Case {
        std::uint64_t usec;
        int foreground;
        bool fed;
    };
    for (const Case& c : {Case{0, 0, false}, Case{300000000, 1, false}, Case{300000000, 0, true}}) {
        SCOPED_TRACE(std::to_string(c.usec) + (c.foreground ? " foreground" : ""));
        notifier.messages.clear();
        notifier.watchdogUsec = c.usec;
        process.m_bForeground = c.foreground;
        auto feed = process.WatchdogFeeder();
        ASSERT_EQ(c.fed, static_cast<bool>(feed));
        if (feed) feed();
        EXPECT_EQ(notifier.messages, c.fed ? std::vector<std::string>{"WATCHDOG=1"} : std::vector<std::string>{});
    }
}

TEST(NotifyServiceStatusText, SentAsOneStatusField) {
    TempDir dir;
    NotifySocket socket(dir.file("notify"));
    ASSERT_TRUE(socket.bound());
    NotifyServiceStatusText("Sending message\nto +49");
    EXPECT_EQ(socket.Drain(), std::vector<std::string>{"STATUS=Sending message to +49"});
}
