#include "config/MessageHook.h"
#include "config/SettingsFile.h"
#include "shell/DialogHost.h"
#include "shell/MainDialog.h"
#include "shell/ServiceProcess.h"
#include "support/QtApp.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Restores one environment variable when the test ends.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : m_name(name) {
        const char* v = std::getenv(name);
        m_had = v != nullptr;
        if (v) m_value = v;
    }
    ~EnvGuard() {
        if (m_had)
            ::setenv(m_name, m_value.c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had = false;
    std::string m_value;
};

QApplication& App() { return TestApp(); }

struct MainDialogTest : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("Pellwick.ini");
    void SetUp() override {
        App();
        SetSettingsPath(path);
        theSettings = CSettings();
    }
};

}  // namespace

TEST(QtPlatform, OffscreenOnlyWithoutAnyDisplay) {
    EnvGuard display("DISPLAY"), wayland("WAYLAND_DISPLAY"), platform("QT_QPA_PLATFORM");
    struct Case {
        const char* display;
        const char* wayland;
        const char* platform;
        bool offscreen;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, true},
        {":99", nullptr, nullptr, false},
        {nullptr, "wayland-0", nullptr, false},
        {"", "", nullptr, true},
        {nullptr, nullptr, "xcb", false},
    };
    for (const Case& c : cases) {
        for (auto [name, value] : {std::pair{"DISPLAY", c.display}, std::pair{"WAYLAND_DISPLAY", c.wayland},
                                   std::pair{"QT_QPA_PLATFORM", c.platform}}) {
            if (value)
                ::setenv(name, value, 1);
            else
                ::unsetenv(name);
        }
        EXPECT_EQ(ChooseQtPlatform(), c.offscreen);
        const char* chosen = std::getenv("QT_QPA_PLATFORM");
        EXPECT_EQ(std::string(chosen ? chosen : ""), c.offscreen ? "offscreen" : (c.platform ? c.platform : ""));
    }
}

TEST_F(MainDialogTest, CreatingTheWindowLoadsTheSettings) {
    MainDialog dialog;
    EXPECT_EQ(fs::file_size(path), 1016u);
    EXPECT_EQ(theSettings.m_strDsn, "DADIvav");
    EXPECT_EQ(theSettings.m_bLogFile, 1);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(MainDialogTest, StopAndExitEndsTheModalLoop) {
    MainDialog dialog;
    bool stillRunningAfterHide = false;
    dialog.setResult(7);
    QTimer::singleShot(0, &dialog, [&] {
        dialog.show();
        dialog.reject();  // closing the window hides it and keeps the server running
    });
    QTimer::singleShot(10, &dialog, [&] {
        stillRunningAfterHide = true;
        dialog.PostCommand(STOP_AND_EXIT_COMMAND);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(stillRunningAfterHide);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(MainDialogTest, OtherCommandsDoNotEndTheLoop) {
    MainDialog dialog;
    bool reached = false;
    QTimer::singleShot(0, &dialog, [&] { dialog.OnCommand(32775); });
    QTimer::singleShot(10, &dialog, [&] {
        reached = true;
        dialog.OnCommand(STOP_AND_EXIT_COMMAND);
    });
    dialog.exec();
    EXPECT_TRUE(reached);
}

TEST_F(MainDialogTest, ErrorMessagesGoToStandardErrorWithoutAScreen) {
    ::testing::internal::CaptureStderr();
    {
        MainDialog dialog;
        ShowErrorMessage("Save configure file error.", "Error");
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Save configure file error.\n");
}

TEST_F(MainDialogTest, ServiceStopControlReachesTheRealWindow) {
    class Quiet : public IStatusNotifier, public IEventLog {
    public:
        bool Available() override { return true; }
        bool Notify(const std::string&) override { return true; }
        void ReportError(const std::string&, const std::string&) override {}
    } quiet;
    CServiceProcess* self = nullptr;
    CServiceProcess process("Orvane Pellwick", "Orvane Pellwick", quiet, quiet, stdout,
                            [&] { return RunMainDialog(*self, 0, nullptr); });
    self = &process;
    // The stop control arrives from another thread while the window runs.
    QTimer::singleShot(0, [&] {
        std::thread([&] { process.ServiceControlHandler(SERVICE_CONTROL_STOP); }).join();
    });
    process.ServiceMain(0, nullptr);
    EXPECT_EQ(process.Status().currentState, SERVICE_STOPPED);
    EXPECT_EQ(fs::file_size(path), 1016u);
}
