#include "EngineFakes.h"
#include "engine/StatusBoard.h"

#include <gtest/gtest.h>

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

TEST_F(StatusBoardTest, ErrorCodeWaitsOneSecondOnceThenNothing) {
    board.SetStatus(5);
    EXPECT_EQ(1000u, clock.slept);
    board.SetStatus(5);
    EXPECT_EQ(1000u, clock.slept);
    board.SetStatus(1);
    EXPECT_EQ(1500u, clock.slept);
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ("Idle.", board.Text());
    EXPECT_EQ(1, board.LastStatus());
}

TEST_F(StatusBoardTest, StandingConditionShowsInsteadOfIdleUntilCleared) {
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
    run.m_bDatabaseLinked = 0;
    board.SetStatus(4);
    board.SetStatus(16);
    board.SetStatus(2);
    ASSERT_EQ(3u, shown.size());
    EXPECT_EQ(ICON_ERROR, shown[0].second);
    EXPECT_EQ(ICON_ERROR, shown[1].second);
    EXPECT_EQ(ICON_PAUSED, shown[2].second);
    EXPECT_EQ(2500u, clock.slept);
}

TEST_F(StatusBoardTest, PausedOverridesEverything) {
    run.m_bRunning = 0;
    run.m_bDeviceLinked = 0;
    board.SetStatus(11);
    EXPECT_EQ(ICON_PAUSED, shown.at(0).second);
    EXPECT_EQ(500u, clock.slept);
}

TEST_F(StatusBoardTest, StopEndsTheWaitAndTheCodeShowsAgainLater) {
    clock.onSleep = [this] {
        if (clock.slept == 200) run.m_bStop = 1;
    };
    board.SetStatus(3);
    EXPECT_EQ(200u, clock.slept);
    EXPECT_EQ(0, board.LastStatus());
    run.m_bStop = 0;
    clock.onSleep = nullptr;
    board.SetStatus(3);
    EXPECT_EQ(2u, shown.size());
    EXPECT_EQ(3, board.LastStatus());
}
