#include "EngineFakes.h"
#include "engine/StatusBoard.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

struct StatusBoardTest : ::testing::Test {
    RunState run;
    FakeClock clock;
    std::vector<std::pair<int, int>> shown;
    CStatusBoard board{run, clock, [this](int code, int icon, const std::string&) { shown.push_back({code, icon}); }};
    void SetUp() override {
        run.m_bDeviceLinked = 1;
        run.m_bDatabaseLinked = 1;
    }
};

TEST_F(StatusBoardTest, TextsAndOwnIcons) {
    EXPECT_STREQ("Idle.", StatusText(1));
    EXPECT_STREQ("Refresh GSM device infromation.", StatusText(10));
    EXPECT_STREQ("Sending period exceeded.", StatusText(24));
    EXPECT_STREQ("", StatusText(0));
    EXPECT_STREQ("SIM PIN required but none configured.", StatusText(25));
    EXPECT_STREQ("Not registered on a network, sending paused.", StatusText(31));
    EXPECT_STREQ("", StatusText(32));
    for (int code : {5, 7, 8, 11, 13, 18, 19, 21, 22, 23, 25, 26, 27, 28, 29, 30, 31})
        EXPECT_EQ(ICON_ERROR, StatusIcon(code)) << code;
    for (int code : {1, 3, 4, 6, 9, 10, 12, 14, 15, 16, 17, 20, 24}) EXPECT_EQ(ICON_NORMAL, StatusIcon(code)) << code;
    EXPECT_EQ(ICON_PAUSED, StatusIcon(2));
}

TEST_F(StatusBoardTest, EveryCodeShowsInOrderForItsTimeAndAFullQueueDropsTheOldest) {
    board.SetStatus(5);  // error icon: one second
    board.SetStatus(5);  // the same code again: nothing
    board.SetStatus(3);
    board.SetStatus(4);
    EXPECT_EQ(0u, clock.slept);  // the caller never waits
    EXPECT_EQ(4, board.LastStatus());
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Unable to connect to database.", board.Text());

    clock.now += 999;
    EXPECT_EQ(1, board.ShowDue());
    EXPECT_EQ(1u, shown.size());
    clock.now += 1;
    EXPECT_EQ(500, board.ShowDue());  // 3 has its half second before 4
    EXPECT_EQ("Connect to database.", board.Text());
    clock.now += 500;
    EXPECT_EQ(0, board.ShowDue());
    EXPECT_EQ("Query database.", board.Text());

    // Far more codes than the queue holds, while 4 is on display: the newest ones show.
    for (int code = 1; code <= 20; ++code) board.SetStatus(code);
    while (const long long wait = board.ShowDue()) clock.now += wait;
    std::vector<int> codes;
    for (const auto& [code, icon] : shown) codes.push_back(code);
    EXPECT_EQ((std::vector<int>{5, 3, 4, 13, 14, 15, 16, 17, 18, 19, 20}), codes);
    static_assert(CStatusBoard::MAX_WAITING == 8);
}

TEST_F(StatusBoardTest, StandingConditionShowsInsteadOfIdleUntilCleared) {
    board.SetDisplayTimes(0, 0);
    board.SetCondition(STATUS_SIM_PUK_REQUIRED);
    board.SetStatus(STATUS_IDLE);
    board.SetStatus(STATUS_READING_SMS);  // other codes still show
    board.SetStatus(STATUS_IDLE);
    EXPECT_EQ("SIM PUK required.", board.Text());
    EXPECT_EQ(ICON_ERROR, board.Icon());
    board.SetCondition(0);
    board.SetStatus(STATUS_IDLE);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{27, ICON_ERROR}, {14, ICON_NORMAL}, {27, ICON_ERROR}, {1, ICON_NORMAL}}),
              shown);
}

TEST_F(StatusBoardTest, LinkDownTurnsAnyCodeButPausedIntoError) {
    board.SetDisplayTimes(0, 0);
    run.m_bDatabaseLinked = 0;
    board.SetStatus(4);
    board.SetStatus(16);
    board.SetStatus(2);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{4, ICON_ERROR}, {16, ICON_ERROR}, {2, ICON_PAUSED}}), shown);
    run.m_bRunning = 0;
    run.m_bDeviceLinked = 0;
    board.SetStatus(11);
    EXPECT_EQ(ICON_PAUSED, shown.back().second);
    EXPECT_EQ(ICON_PAUSED, board.Icon());
}

TEST(StatusBoardThread, ASlowDisplayNeverHoldsThePublisherAndEveryCodeShows) {
    RunState run;
    run.m_bDeviceLinked = 1;
    run.m_bDatabaseLinked = 1;
    CGatewayClock clock;
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, released = false;
    std::vector<int> shown;
    CStatusBoard board(run, clock, [&](int code, int, const std::string&) {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });  // a display that hangs until released
        shown.push_back(code);
        changed.notify_all();
    });
    board.StartDisplayThread();
    board.SetStatus(3);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return entered; }));
    lock.unlock();
    for (int code : {4, 16, 1}) board.SetStatus(code);  // returns while the display hangs
    lock.lock();
    released = true;
    changed.notify_all();
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return shown.size() == 4; }));
    EXPECT_EQ((std::vector<int>{3, 4, 16, 1}), shown);
    EXPECT_EQ("Idle.", board.Text());
}
