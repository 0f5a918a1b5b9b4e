#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

namespace {

bool Has(const std::vector<int>& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }

}  // namespace

TEST(Worker, DatabaseDownKeepsItsFailureOnDisplayUnderErrorIcon) {
    EngineHarness h;
    h.run.m_bDeviceLinked = 1;
    h.db.reachable = false;
    h.worker.Pass();  // tick 0 also refreshes the device
    EXPECT_EQ((std::vector<int>{3, 5, 10, 5}), h.Codes());
    h.shown.clear();
    h.clock.slept = 0;
    h.worker.Pass();
    EXPECT_TRUE(h.Codes().empty());  // the retry neither announces itself again nor shows "Idle."
    EXPECT_EQ("Unable to connect to database.", h.status.Text());
    EXPECT_EQ(ICON_ERROR, h.status.Icon());
    EXPECT_EQ(500u, h.clock.slept);  // the display times are not the worker's
    EXPECT_TRUE(h.db.queries.empty());
    EXPECT_TRUE(h.modem.sent.empty());
}

TEST(Worker, BothLinksDownShowsDeviceFailureFirst) {
    EngineHarness h;
    h.db.reachable = false;
    h.modem.connectResult = 0;
    h.worker.Pass();
    EXPECT_EQ((std::vector<int>{3, 5, 9, 11}), h.Codes());
}

TEST(Worker, PausedPassClosesLinksAndSleepsOneSecond) {
    EngineHarness h;
    h.LinksUp();
    h.run.m_bRunning = 0;
    h.worker.Pass();
    EXPECT_EQ(0, h.run.m_bDatabaseLinked.load());
    EXPECT_EQ(0, h.run.m_bDeviceLinked.load());
    EXPECT_EQ((std::vector<int>{6, 12, 2}), h.Codes());
    for (const auto& s : h.shown) EXPECT_EQ(ICON_PAUSED, s.icon);
    h.shown.clear();
    h.clock.slept = 0;
    h.worker.Pass();  // nothing left to close; the paused code costs nothing now
    EXPECT_TRUE(h.shown.empty());
    EXPECT_EQ(1000u, h.clock.slept);
    EXPECT_EQ(2u, h.worker.Ticks());
}

TEST(Worker, PeriodsFollowTheTickCounterAndIdlePassesAreOnlyCounted) {
    EngineHarness h;
    h.settings.m_nQueryInterval = 4;
    h.LinksUp();
    std::map<std::uint32_t, std::vector<int>> perTick;  // the ticks a pass ran on
    while (h.worker.Ticks() <= 60) {
        h.shown.clear();
        const std::uint32_t tick = h.worker.Ticks();
        h.worker.Pass();
        perTick[tick] = h.Codes();
        EXPECT_EQ(500u * h.worker.Ticks(), h.clock.now) << tick;  // half a second per tick
    }
    for (std::uint32_t tick = 0; tick <= 60; ++tick) {
        const bool ran = perTick.count(tick) != 0;
        EXPECT_EQ(tick % 4 == 0 || tick % 10 == 0, ran) << tick;
        const std::vector<int> codes = ran ? perTick[tick] : std::vector<int>{};
        EXPECT_EQ(tick % 10 == 0, Has(codes, STATUS_GSM_REFRESH)) << tick;
        EXPECT_EQ(tick % 4 == 0, Has(codes, STATUS_DB_QUERY)) << tick;
        EXPECT_EQ(tick % 60 == 0, Has(codes, STATUS_READING_SMS)) << tick;
    }
}

TEST(Worker, EachRunningTickPollsUntilNothingIsPending) {
    EngineHarness h;
    h.LinksUp();
    h.modem.polls = {1, 9001, 9003, 9001, 9002, 9001, 1, 9001};
    h.modem.received = {"+4915", "hello", "261207093000", 1};
    h.worker.Pass();
    EXPECT_TRUE(h.db.executed.empty());
    h.worker.Pass();  // a burst: every indication already received, in one pass
    ASSERT_EQ(3u, h.db.executed.size());
    EXPECT_EQ("insert into smsin(phone, msgbody, rectime) values('+4915', 'hello', '2026-12-07 09:30:00')",
              h.db.executed[0]);
    EXPECT_EQ(3, h.settings.m_nReceived);
    h.worker.Pass();
    EXPECT_EQ(4, h.settings.m_nReceived);
}

TEST(Worker, APassNeverWaitsForASlowDisplay) {
    std::atomic<bool> released{false};  // outlives the board and its display thread
    std::atomic<int> shown{0};
    EngineHarness h;
    h.status.SetDisplayTimes(500, 1000);
    h.status.SetDisplay([&](int, int, const std::string&) {
        while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++shown;
    });
    h.status.StartDisplayThread();
    for (int i = 0; i < 3; ++i) h.worker.Pass();  // connects, counts, polls, idles: many codes
    EXPECT_EQ(15u, h.worker.Ticks());
    EXPECT_EQ(0, shown.load());
    released = true;
}

TEST(Worker, PauseKeepsTheTickCounterAndResumeReconnects) {
    EngineHarness h;
    h.worker.Pass();
    EXPECT_EQ(1, h.run.m_bDatabaseLinked.load());
    h.run.m_bRunning = 0;
    h.worker.Pass();
    EXPECT_EQ(0, h.run.m_bDatabaseLinked.load());
    EXPECT_EQ(6u, h.worker.Ticks());  // 0, the wait up to the query interval, the paused pass
    h.run.m_bRunning = 1;
    h.worker.Pass();
    EXPECT_EQ(1, h.run.m_bDatabaseLinked.load());
    EXPECT_EQ(1, h.run.m_bDeviceLinked.load());
    EXPECT_EQ(10u, h.worker.Ticks());
}

TEST(Worker, StopEndsTheLoopAndClearsTheFlag) {
    EngineHarness h;
    h.clock.onSleep = [&] {
        if (h.worker.Ticks() >= 2) h.run.m_bStop = 1;
    };
    EXPECT_EQ(1, h.worker.WorkerThreadProc());
    EXPECT_EQ(0, h.run.m_bStop.load());
    EXPECT_EQ(10u, h.worker.Ticks());  // passes on ticks 0 and 5 (the query interval)
}

// What keeps the gateway from its work stays on display instead of "Idle.", with the
// board's own display times: rows waiting outside the sending period, inserts that fail.
TEST(Worker, AWaitingCauseShowsInsteadOfIdle) {
    struct Case {
        const char* text;
        void (*arrange)(EngineHarness&);
    };
    const Case cases[] = {
        {"Sending period exceeded.",
         [](EngineHarness& h) {
             h.clock.hour = 20;
             h.AddOutboxRow("7", "+4917", "later");
         }},
        {"Insert SQL script error.",
         [](EngineHarness& h) {
             h.db.failExecutes = 1000;
             h.modem.stores["SM"][1] = {"+4917", "hi", "261207093000", 1};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EngineHarness h;
        h.status.SetDisplayTimes(CStatusBoard::DISPLAY_MS, CStatusBoard::ERROR_DISPLAY_MS);
        h.LinksUp();
        c.arrange(h);
        for (int pass = 0; pass < 3; ++pass) h.worker.Pass();
        while (const long long wait = h.status.ShowDue()) h.clock.now += wait;
        EXPECT_EQ(c.text, h.status.Text());
        EXPECT_TRUE(h.modem.sent.empty());
    }
}

TEST(Worker, FeedsTheWatchdogEveryPassAndEverySecondOfAWait) {
    EngineHarness h;
    h.LinksUp();
    int fed = 0;
    h.worker.SetWatchdog([&] { ++fed; });
    for (int i = 0; i < 3; ++i) h.worker.Pass();
    EXPECT_EQ(3, fed);
    // A wait on another thread proves nothing about the worker.
    std::thread([&] { h.worker.FeedWatchdogWhileWaiting(); }).join();
    EXPECT_EQ(3, fed);
    // A second into a wait, at once again, a second later.
    for (int seconds : {1, 0, 1}) {
        const int before = fed;
        h.clock.now += seconds * 1000;
        h.worker.FeedWatchdogWhileWaiting();
        EXPECT_EQ(before + seconds, fed);
    }
}

TEST(GatewayClock, SleepRunsThePumpAndEndsOnStop) {
    int pumps = 0;
    SystemClock().SetPump([&] { ++pumps; });
    SystemClock().SetStopCheck([&] { return pumps >= 3; });
    CGatewayClock().SleepMs(24 * 3600 * 1000);  // a day's pause between submissions
    EXPECT_EQ(3, pumps);
    SystemClock().SetPump(nullptr);
    SystemClock().SetStopCheck(nullptr);
}
