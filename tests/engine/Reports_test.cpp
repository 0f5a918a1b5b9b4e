#include "EngineHarness.h"

#include "support/JournalCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

struct ReportsTest : ::testing::Test {
    EngineHarness h;
    void SetUp() override {
        h.LinksUp();
        h.settings.m_strReportPhone = "+4930";
        h.settings.m_nUnsent = 1;
        h.settings.m_nSent = 2;
        h.settings.m_nFailed = 3;
        h.settings.m_nReceived = 4;
    }
    void Battery(int level) {
        h.modem.battery = level;
        h.gateway.RefreshDeviceInfo();
        h.modem.sent.clear();
    }
};

TEST_F(ReportsTest, DailyReportOncePerReportHour) {
    h.settings.m_bDailyReport = 1;
    h.settings.m_nReportTime = 17;
    h.clock.hour = 17;
    h.gateway.CheckReports();
    h.gateway.CheckReports();
    ASSERT_EQ(1u, h.modem.sent.size());
    EXPECT_EQ("+4930", h.modem.sent[0].phone);
    EXPECT_EQ("SMS Service daily report: unsent:1, sent:2, failed:3, received:4.", h.modem.sent[0].text);
    EXPECT_EQ(1, h.modem.sent[0].kind);
    EXPECT_EQ(1, h.settings.m_bReportSent);

    h.clock.hour = 18;
    int saves = h.saves;
    h.gateway.CheckReports();
    EXPECT_EQ(0, h.settings.m_bReportSent);
    EXPECT_EQ(saves + 1, h.saves);
    h.clock.hour = 17;
    h.gateway.CheckReports();
    EXPECT_EQ(2u, h.modem.sent.size());
}

TEST_F(ReportsTest, ReportHour24NeverSendsAndFailedSendRetries) {
    h.settings.m_bDailyReport = 1;
    h.settings.m_nReportTime = 24;
    for (int hour = 0; hour < 24; ++hour) {
        h.clock.hour = hour;
        h.gateway.CheckReports();
    }
    EXPECT_TRUE(h.modem.sent.empty());

    h.settings.m_nReportTime = 9;
    h.clock.hour = 9;
    h.modem.sendResult = -1;
    h.gateway.CheckReports();
    h.gateway.CheckReports();
    EXPECT_EQ(2u, h.modem.sent.size());
    EXPECT_EQ(0, h.settings.m_bReportSent);
}

TEST_F(ReportsTest, DailyReportNeedsTheDatabase) {
    h.settings.m_bDailyReport = 1;
    h.clock.hour = h.settings.m_nReportTime;
    h.run.m_bDatabaseLinked = 0;
    h.gateway.CheckReports();
    EXPECT_TRUE(h.modem.sent.empty());
}

TEST_F(ReportsTest, BatteryWarningAtEightyNotEightyOneRearmedAbove) {
    h.settings.m_bBatteryWarning = 1;
    Battery(81);
    h.gateway.CheckReports();
    EXPECT_TRUE(h.modem.sent.empty());

    Battery(80);
    h.gateway.CheckReports();
    h.gateway.CheckReports();
    ASSERT_EQ(1u, h.modem.sent.size());
    EXPECT_EQ("Warning: Battery low.", h.modem.sent[0].text);
    EXPECT_EQ(1, h.settings.m_bBatteryWarned);

    Battery(101);  // external power
    h.gateway.CheckReports();
    EXPECT_EQ(0, h.settings.m_bBatteryWarned);
    int saves = h.saves;
    h.gateway.CheckReports();  // latch already clear: the file is not written again
    EXPECT_EQ(saves, h.saves);

    Battery(10);
    h.gateway.CheckReports();
    EXPECT_EQ(1u, h.modem.sent.size());
}

TEST_F(ReportsTest, FailedBatteryReadingRearms) {
    h.settings.m_bBatteryWarning = 1;
    h.settings.m_bBatteryWarned = 1;
    Battery(-1);
    h.gateway.CheckReports();
    EXPECT_EQ(0, h.settings.m_bBatteryWarned);
}

TEST_F(ReportsTest, DatabaseLostWarningOncePerLoss) {
    h.settings.m_bDbLostWarning = 1;
    h.run.m_bDatabaseLinked = 0;
    h.gateway.CheckReports();
    h.gateway.CheckReports();
    ASSERT_EQ(1u, h.modem.sent.size());
    EXPECT_EQ("Warning: Database connection is lost.", h.modem.sent[0].text);
    h.run.m_bDatabaseLinked = 1;
    h.gateway.CheckReports();
    EXPECT_EQ(0, h.settings.m_bDbLostWarned);
    h.run.m_bDatabaseLinked = 0;
    h.gateway.CheckReports();
    EXPECT_EQ(2u, h.modem.sent.size());
}

TEST_F(ReportsTest, NothingWhilePausedOrDeviceDown) {
    h.settings.m_bDbLostWarning = 1;
    h.run.m_bDatabaseLinked = 0;
    h.run.m_bDeviceLinked = 0;
    h.gateway.CheckReports();
    h.run.m_bDeviceLinked = 1;
    h.run.m_bRunning = 0;
    h.gateway.CheckReports();
    EXPECT_TRUE(h.modem.sent.empty());
}

TEST_F(ReportsTest, QueryReplies) {
    struct Case {
        int running, device, database;
        const char* text;
        const char* reply;
    } cases[] = {
        {1, 1, 1, "what is your <STATUS> now", "Pellwick is running normally."},
        {1, 1, 0, "<STATUS>", "Pellwick is running but database is disconnected."},
        {1, 0, 1, "<STATUS>", "Pellwick is running but GSM device is disconnected."},
        {1, 0, 0, "<STATUS>", "Pellwick is stopped."},
        {0, 1, 1, "<STATUS>", "Pellwick is stopped."},
        {1, 1, 1, "<STATUS><REPORT>", "SMS Service report: unsent:1, sent:2, fail:3, recevied:4"},
        {1, 1, 1, "<status> <report>", nullptr},
    };
    h.settings.m_nReplyLimit = 100;
    for (const auto& c : cases) {
        h.modem.sent.clear();
        h.run.m_bRunning = c.running;
        h.run.m_bDeviceLinked = c.device;
        h.run.m_bDatabaseLinked = c.database;
        h.gateway.AnswerQuery("+4915", c.text);
        if (!c.reply) {
            EXPECT_TRUE(h.modem.sent.empty()) << c.text;
            continue;
        }
        ASSERT_EQ(1u, h.modem.sent.size()) << c.text;
        EXPECT_EQ("+4915", h.modem.sent[0].phone);
        EXPECT_EQ(c.reply, h.modem.sent[0].text);
    }
}

// Replies go only to listed senders, at most reply_limit an hour each and 100 a day in
// all; a refused sender is journalled once an hour.
TEST_F(ReportsTest, RepliesStayWithinTheirLimits) {
    struct Case {
        const char* numbers;
        int limit;
        std::vector<std::string> senders;  // one <STATUS> from each, in order
        std::vector<std::string> answered;
    } cases[] = {
        {"", 3, {"+4915", "+4915", "+4915", "+4915", "+4916"}, {"+4915", "+4915", "+4915", "+4916"}},
        {"", 0, {"+4915"}, {}},
        {"4915, +4930*", 3, {"+4915", "4915", "+49151", "+493012", "+4930", "+4931", "0900123"},
         {"+4915", "4915", "+493012", "+4930"}},
        {"49170*", 1, {"+4917012", "+4917012", "+4917013"}, {"+4917012", "+4917013"}},
    };
    for (const auto& c : cases) {
        EngineHarness e;
        e.LinksUp();
        e.settings.m_strReplyNumbers = c.numbers;
        e.settings.m_nReplyLimit = c.limit;
        for (const auto& sender : c.senders) e.gateway.AnswerQuery(sender, "<STATUS>");
        std::vector<std::string> answered;
        for (const auto& sent : e.modem.sent) answered.push_back(sent.phone);
        EXPECT_EQ(c.answered, answered) << c.numbers << " " << c.limit;
    }

    // An hour later the sender is answered again; the day's total holds across senders.
    TempDir dir;
    JournalCapture journal(dir.file("log"));
    for (int i = 0; i < 5; ++i) h.gateway.AnswerQuery("+4915", "<REPORT>");
    EXPECT_EQ(3u, h.modem.sent.size());
    const std::vector<std::string> lines = journal.Lines("not answered");
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                  return line.find("+4915 not answered: over reply_limit") != std::string::npos;
              }));
    h.clock.now += 60 * 60 * 1000;
    h.gateway.AnswerQuery("+4915", "<REPORT>");
    EXPECT_EQ(4u, h.modem.sent.size());
    for (int i = 0; i < 200; ++i) h.gateway.AnswerQuery("+49" + std::to_string(i), "<STATUS>");
    EXPECT_EQ(100u, h.modem.sent.size());
    h.clock.now += 24 * 60 * 60 * 1000LL;
    h.gateway.AnswerQuery("+4999", "<STATUS>");
    EXPECT_EQ(101u, h.modem.sent.size());
}
