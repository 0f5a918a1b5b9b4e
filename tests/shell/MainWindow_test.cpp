// The main window as the running gateway: menu states, run-state commands and the
// timed shutdown, on Qt's offscreen platform.
#include "config/SettingsFile.h"
#include "dialog/ConfigPages.h"
#include "shell/MainDialog.h"
#include "shell/TrayIcon.h"
#include "support/QtApp.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <thread>

namespace {

QApplication& App() { return TestApp(); }

// Lets a worker that hung go once its test is over.
std::atomic<bool> g_releaseHungWorker{false};

// A window whose worker does nothing but wait for the stop request, or ignores it.
class TestDialog : public MainDialog {
public:
    explicit TestDialog(bool hangs) : m_hangs(hangs) {
        SetShutdownTimerMs(20);
        g_releaseHungWorker = false;
    }
    ~TestDialog() override { g_releaseHungWorker = true; }

protected:
    void RunWorker() override {
        // Only what outlives the window is touched once the loop has been left.
        RunState& run = Run();
        const bool hangs = m_hangs;
        while (!run.m_bStop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        while (hangs && !g_releaseHungWorker) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        run.m_bStop = 0;
    }

private:
    bool m_hangs;
};

struct MainWindowTest : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        App();
        SetSettingsPath(dir.file("Pellwick.ini"));
        theSettings = CSettings();
    }
    static QAction* Item(CTrayIcon* tray, const QString& text) {
        for (QAction* a : tray->Menu()->actions())
            if (a->text() == text) return a;
        return nullptr;
    }
};

}  // namespace

TEST_F(MainWindowTest, MenuItemsAndTheirStatesFollowTheRunState) {
    TestDialog dialog(false);
    CTrayIcon* tray = dialog.Tray();
    QStringList texts;
    for (QAction* a : tray->Menu()->actions()) texts << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ((QStringList{"Configuration", "-", "Pellwick Start", "Pellwick Pause", "-", "Stop && Exit..."}), texts);
    EXPECT_EQ(Item(tray, "Configuration"), tray->Menu()->defaultAction());

    QAction* start = Item(tray, "Pellwick Start");
    QAction* pause = Item(tray, "Pellwick Pause");
    ASSERT_TRUE(start && pause);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(start->isChecked());
    EXPECT_TRUE(pause->isEnabled());
    EXPECT_FALSE(pause->isChecked());

    pause->trigger();
    EXPECT_EQ(0, dialog.Run().m_bRunning.load());
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(start->isChecked());
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_TRUE(pause->isChecked());

    start->trigger();
    EXPECT_EQ(1, dialog.Run().m_bRunning.load());
    dialog.Run().m_bStop = 1;
}

TEST_F(MainWindowTest, ConfigurationShowsTheWindowAndCloseOnlyHidesIt) {
    TestDialog dialog(false);
    QTimer::singleShot(0, &dialog, [&] {
        EXPECT_TRUE(dialog.isVisible());  // shown at start, hidden by timer 1
        dialog.HideWindow();
        dialog.OnCommand(ID_TRAY_CONFIGURATION);
        EXPECT_TRUE(dialog.isVisible());
        dialog.close();
        EXPECT_FALSE(dialog.isVisible());
        dialog.OnCommand(ID_TRAY_CONFIGURATION);
        dialog.reject();  // Escape / the close box
        EXPECT_FALSE(dialog.isVisible());
        dialog.OnCommand(ID_TRAY_EXIT);
    });
    EXPECT_EQ(QDialog::Accepted, dialog.exec());
}

TEST_F(MainWindowTest, ShutdownEndsAtTheFirstTimerTickAfterTheWorker) {
    TestDialog dialog(false);
    QTimer::singleShot(0, &dialog, [&] { dialog.OnCommand(ID_TRAY_EXIT); });
    EXPECT_EQ(QDialog::Accepted, dialog.exec());
    EXPECT_EQ(0, dialog.Run().m_bRunning.load());
    EXPECT_LE(dialog.ShutdownTicks(), 2);
    EXPECT_TRUE(dialog.WorkerEnded());
}

TEST_F(MainWindowTest, HangingWorkerIsGivenUpAfterThirtyOneTicks) {
    TestDialog dialog(true);
    QTimer::singleShot(0, &dialog, [&] { dialog.OnCommand(ID_TRAY_EXIT); });
    EXPECT_EQ(QDialog::Accepted, dialog.exec());
    EXPECT_EQ(32, dialog.ShutdownTicks());
    EXPECT_FALSE(dialog.WorkerEnded());
    g_releaseHungWorker = true;  // let it go before the window is destroyed
    while (!dialog.WorkerEnded()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST_F(MainWindowTest, StatusChangesReachTheWindowWithoutHoldingTheWorker) {
    TestDialog dialog(false);
    dialog.Run().m_bDeviceLinked = 1;
    dialog.Run().m_bDatabaseLinked = 1;
    // Published while the window's thread runs no event loop: the worker goes on at once.
    auto published = std::async(std::launch::async, [&] {
        dialog.Status().SetStatus(STATUS_DB_QUERY);
        dialog.Status().SetStatus(STATUS_SENDING_SMS);  // waits for its turn, the worker does not
    });
    ASSERT_EQ(std::future_status::ready, published.wait_for(std::chrono::seconds(20)));
    QTimer poll;
    int polls = 0;
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        if (dialog.Status().Text() == "Sending SMS." || ++polls > 2000) dialog.OnCommand(ID_TRAY_EXIT);
    });
    poll.start(10);
    dialog.exec();
    EXPECT_EQ("Sending SMS.", dialog.Status().Text());
    EXPECT_EQ(ICON_NORMAL, dialog.Status().Icon());
}

// Help opens the manual beside the executable (the build puts it there), else the
// installed one; with neither it says where it looked and opens nothing.
TEST_F(MainWindowTest, HelpOpensTheManualFoundFirst) {
    TestDialog dialog(false);
    std::vector<std::string> opened;
    auto record = [&](const std::string& path) {
        opened.push_back(path);
        return true;
    };
    QPushButton* help = dialog.Pages()->HelpButton();

    dialog.SetManual(CManual(record));
    help->click();
    EXPECT_EQ(opened, std::vector<std::string>{QCoreApplication::applicationDirPath().toStdString() +
                                               "/PellwickManual.html"});

    TempDir beside, installed;
    dialog.SetManual(CManual(record, {beside.path(), installed.path()}));
    opened.clear();
    ::testing::internal::CaptureStderr();
    help->click();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("The manual PellwickManual.html was not found in " +
                                                            beside.path() + " or " + installed.path() + "."),
              std::string::npos);
    std::ofstream(installed.file("PellwickManual.html")) << "<html></html>";
    help->click();
    std::ofstream(beside.file("PellwickManual.html")) << "<html></html>";
    help->click();
    EXPECT_EQ(opened, (std::vector<std::string>{installed.file("PellwickManual.html"),
                                                beside.file("PellwickManual.html")}));
    dialog.Run().m_bStop = 1;
}
