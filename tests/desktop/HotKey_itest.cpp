#include "XServer.h"

#include "dialog/HotKey.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

// The hot key through a real X server: keys typed by xdotool reach the grab.
class HotKeyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = std::make_unique<XServer>();
        if (!server->Ok()) return;
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "test_desktop";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite() {
        app.reset();
        server.reset();
    }
    void SetUp() override {
        if (!server->Ok()) GTEST_SKIP() << "Xvfb could not be started";
    }

    static void Type(const std::string& keys) {
        ASSERT_EQ(std::system(("xdotool " + keys).c_str()), 0) << keys;
    }

    static inline std::unique_ptr<XServer> server;
    static inline std::unique_ptr<QApplication> app;
};

// Grabs Ctrl+Shift+S on another connection, the way a second program would.
class OtherClient {
public:
    OtherClient() : m_connection(xcb_connect(nullptr, nullptr)) {
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        m_root = xcb_setup_roots_iterator(setup).data->root;
        xcb_grab_key(m_connection, 1, m_root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, XCB_GRAB_ANY,
                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }
    // The grab is released and the server has handled that before the client goes: a plain
    // disconnect is noticed by the server only when it gets round to it.
    ~OtherClient() {
        xcb_ungrab_key(m_connection, XCB_GRAB_ANY, m_root, XCB_MOD_MASK_ANY);
        free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        xcb_disconnect(m_connection);
    }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_root;
};

TEST_F(HotKeyTest, CtrlShiftSFromAnyApplication) {
    int presses = 0;
    {
        OtherClient other;
        EXPECT_FALSE(InstallHotKey([&] { ++presses; }));
    }
    ASSERT_TRUE(InstallHotKey([&] { ++presses; }));

    Type("key ctrl+shift+s");
    EXPECT_TRUE(QTest::qWaitFor([&] { return presses == 1; }, 10000));

    // The lock keys do not hide the hot key.
    for (const char* lock : {"Caps_Lock", "Num_Lock"}) {
        Type(std::string("key ") + lock);
        const int before = presses;
        Type("key ctrl+shift+s");
        EXPECT_TRUE(QTest::qWaitFor([&] { return presses == before + 1; }, 10000)) << lock;
        Type(std::string("key ") + lock);
    }

    // Other combinations pass by: the press that follows them is the only one counted.
    const int before = presses;
    Type("key ctrl+s shift+s ctrl+alt+shift+s s ctrl+shift+s");
    EXPECT_TRUE(QTest::qWaitFor([&] { return presses >= before + 1; }, 10000));
    EXPECT_EQ(presses, before + 1);

    // A second call replaces the callback.
    int replaced = 0;
    ASSERT_TRUE(InstallHotKey([&] { ++replaced; }));
    Type("key ctrl+shift+s");
    EXPECT_TRUE(QTest::qWaitFor([&] { return replaced == 1; }, 10000));
    EXPECT_EQ(presses, before + 1);
}

}  // namespace
