// The window on a desktop without a system tray (a stock GNOME session): it stays open
// instead of hiding, and hiding it minimises it, so it can always be found again.
#include "XServer.h"

#include "config/SettingsFile.h"
#include "shell/MainDialog.h"
#include "shell/TrayIcon.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>
#include <thread>

namespace {

class IdleDialog : public MainDialog {
public:
    IdleDialog() { SetShutdownTimerMs(20); }

protected:
    void RunWorker() override {
        RunState& run = Run();
        while (!run.m_bStop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        run.m_bStop = 0;
    }
};

}  // namespace

TEST(TrayLessDesktop, WindowStaysOpenAndMinimisesInsteadOfHiding) {
    XServer server;
    if (!server.Ok()) GTEST_SKIP() << "Xvfb could not be started";
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "test_desktop";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TempDir dir;
    SetSettingsPath(dir.file("Pellwick.ini"));

    IdleDialog dialog;
    QTimer::singleShot(0, &dialog, [&] {
        EXPECT_TRUE(dialog.TrayMissing());
        // Past the second after which a window with a tray icon hides itself.
        QTest::qWait(2500);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_FALSE(dialog.isMinimized());
        dialog.HideWindow();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.isMinimized());
        dialog.ShowConfiguration();
        EXPECT_FALSE(dialog.isMinimized());
        dialog.OnCommand(ID_TRAY_EXIT);
    });
    EXPECT_EQ(QDialog::Accepted, dialog.exec());
}
