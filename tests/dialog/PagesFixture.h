#pragma once
// A CConfigPages on Qt's offscreen platform with hooks that record every call.
#include "config/MessageHook.h"
#include "config/SettingsFile.h"
#include "dialog/ConfigPages.h"
#include "engine/RunState.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTabWidget>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

inline QApplication& OffscreenApp() {
    static int argc = 1;
    static char name[] = "test_configdialog";
    static char* argv[] = {name, nullptr};
    // Never destroyed: QTest's input devices must not outlive it at exit.
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Types any text, also characters that have no key of their own.
inline void TypeText(QWidget* widget, const QString& text) {
    for (QChar c : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

struct PagesTest : ::testing::Test {
    CSettings settings;
    RunState run;
    // What the hooks were called with, in order.
    std::vector<std::string> calls;
    int retryInterval = -1;
    int attempts = -1;
    int autoStart = -1;
    DeviceInfo device;
    std::vector<int> storedBattery;
    std::vector<std::string> messages;
    // The record as it was when the save hook ran.
    CSettings saved;
    std::unique_ptr<CConfigPages> pages;
    ErrorMessageHook previousHook;

    void SetUp() override {
        OffscreenApp();
        previousHook = SetErrorMessageHook(
            [this](const std::string& text, const std::string&) { messages.push_back(text); });
    }
    void TearDown() override {
        pages.reset();
        SetErrorMessageHook(previousHook);
    }

    ConfigHooks Hooks() {
        ConfigHooks hooks;
        hooks.setDriverRetry = [this](int interval, int count) {
            calls.push_back("retry");
            retryInterval = interval;
            attempts = count;
        };
        hooks.saveSettings = [this] {
            calls.push_back("save");
            saved = settings;
            return 1;
        };
        hooks.setAutoStart = [this](bool on) {
            calls.push_back("autostart");
            autoStart = on ? 1 : 0;
        };
        hooks.device = [this] { return device; };
        hooks.storeBattery = [this](int level) {
            storedBattery.push_back(level);
            device.battery = level;
        };
        hooks.statusText = [] { return std::string("Idle."); };
        hooks.hideWindow = [this] { calls.push_back("hide"); };
        hooks.openHelp = [this] { calls.push_back("help"); };
        return hooks;
    }

    // Creates the pages and shows them once, as the window does.
    void Show() {
        if (!pages) pages = std::make_unique<CConfigPages>(settings, run, Hooks());
        pages->LoadFromSettings();
    }

    template <class T>
    T* Field(const char* name) {
        T* field = pages->findChild<T*>(name);
        EXPECT_NE(field, nullptr) << name;
        return field;
    }

    int CurrentTab() const { return pages->Tabs()->currentIndex(); }
    // "OK" and "Apply" are always enabled together.
    bool ApplyEnabled() const {
        EXPECT_EQ(pages->OkButton()->isEnabled(), pages->ApplyButton()->isEnabled());
        return pages->ApplyButton()->isEnabled();
    }
};
