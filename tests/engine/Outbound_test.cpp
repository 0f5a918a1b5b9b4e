#include "EngineHarness.h"

#include <gtest/gtest.h>

struct OutboundTest : ::testing::Test {
    EngineHarness h;
    void SetUp() override {
        h.LinksUp();
        h.clock.hour = 10;
    }
    void Cycle() {
        h.gateway.CountUnsent();
        h.gateway.SendPending();
    }
};

TEST_F(OutboundTest, DefaultTemplatesSendTextPlusSpaceAndWriteOne) {
    h.AddOutboxRow("7", "+4917012345", "Hello");
    Cycle();
    EXPECT_EQ("select count(*) as count from smsout where status=0", h.db.queries.at(0));
    EXPECT_EQ("select msgid as zMsgID, phone as zPhone, msgbody as zMsgBody from smsout where status=0",
              h.db.queries.at(1));
    ASSERT_EQ(1u, h.modem.sent.size());
    EXPECT_EQ("+4917012345", h.modem.sent[0].phone);
    EXPECT_EQ("Hello ", h.modem.sent[0].text);
    EXPECT_EQ(2, h.modem.sent[0].kind);  // new settings send in Long SMS Mode
    ASSERT_EQ(1u, h.db.executed.size());
    EXPECT_EQ("update smsout set status=1 where msgid=7", h.db.executed[0]);
    EXPECT_EQ(1, h.settings.m_nSent);
    EXPECT_EQ(0, h.settings.m_nUnsent);
    EXPECT_GE(h.saves, 1);
    EXPECT_TRUE(h.gateway.Journal().Empty());
}

TEST_F(OutboundTest, RefusedSubmissionWritesMinusOneAndCountsFailure) {
    h.modem.sendResult = -1;
    h.AddOutboxRow("3", "+491", "x");
    h.AddOutboxRow("4", "+492", "");
    Cycle();
    ASSERT_EQ(2u, h.db.executed.size());
    EXPECT_EQ("update smsout set status=-1 where msgid=3", h.db.executed[0]);
    EXPECT_EQ(" ", h.modem.sent[1].text);  // an empty text still goes out, as one space
    EXPECT_EQ(2, h.settings.m_nFailed);
    EXPECT_EQ(0, h.settings.m_nSent);
}

TEST_F(OutboundTest, LongModeOffSendsKindOne) {
    h.settings.m_bLongSms = 0;
    h.AddOutboxRow("1", "+491", "short");
    Cycle();
    EXPECT_EQ(1, h.modem.sent.at(0).kind);
}

TEST_F(OutboundTest, SendingWindowEndsBeforeTheEndHour) {
    h.AddOutboxRow("1", "+491", "a");
    h.clock.hour = 16;
    Cycle();
    EXPECT_EQ(1u, h.modem.sent.size());

    h.AddOutboxRow("2", "+491", "b");
    h.clock.hour = 17;
    Cycle();
    EXPECT_EQ(1u, h.modem.sent.size());
    EXPECT_EQ(STATUS_PERIOD_EXCEEDED, h.status.LastStatus());

    h.settings.m_nEndTime = 24;
    h.clock.hour = 23;
    Cycle();
    EXPECT_EQ(2u, h.modem.sent.size());

    h.settings.m_nStartTime = 12;
    h.settings.m_nEndTime = 12;  // an end not after the start allows nothing
    h.clock.hour = 12;
    Cycle();
    EXPECT_EQ(2u, h.modem.sent.size());
}

TEST_F(OutboundTest, NothingSelectedWhileTheLastCountWasZero) {
    h.gateway.CountUnsent();
    h.AddOutboxRow("1", "+491", "late");
    h.gateway.SendPending();
    EXPECT_EQ(1u, h.db.queries.size());
    EXPECT_TRUE(h.modem.sent.empty());
}

TEST_F(OutboundTest, SilentDeviceSkipsRowsAndWaitsTheRetryInterval) {
    h.modem.answersAt = false;
    h.settings.m_nRetryInterval = 2;
    h.AddOutboxRow("1", "+491", "a");
    h.AddOutboxRow("2", "+492", "b");
    Cycle();
    EXPECT_TRUE(h.modem.sent.empty());
    EXPECT_TRUE(h.db.executed.empty());
    EXPECT_EQ(2, h.settings.m_nUnsent);  // skipped rows are not counted down
    // Per row: two 100 ms pauses between three checks, then the 2 s wait.
    EXPECT_GE(h.clock.slept, 2u * (200 + 2000));
}

TEST_F(OutboundTest, PausesTheDriverRetryIntervalAfterEachRow) {
    h.modem.retryInterval = 3;
    h.AddOutboxRow("1", "+491", "a");
    h.AddOutboxRow("2", "+492", "b");
    h.gateway.CountUnsent();
    h.clock.slept = 0;
    h.gateway.SendPending();
    EXPECT_GE(h.clock.slept, 6000u);
}

TEST_F(OutboundTest, DatabaseErrorMarksLinkDownAndShows23) {
    h.AddOutboxRow("1", "+491", "a");
    h.gateway.CountUnsent();
    h.db.reachable = false;
    h.gateway.SendPending();
    EXPECT_EQ(0, h.run.m_bDatabaseLinked.load());
    EXPECT_EQ(STATUS_UPDATE_ERROR, h.status.LastStatus());
}

TEST_F(OutboundTest, CountErrorsShow21) {
    h.settings.m_strSelectSql = "select 1";
    h.settings.m_nUnsent = 4;
    h.gateway.CountUnsent();
    EXPECT_EQ(STATUS_SELECT_ERROR, h.status.LastStatus());
    EXPECT_EQ(4, h.settings.m_nUnsent);
    EXPECT_EQ(1, h.run.m_bDatabaseLinked.load());

    h.settings.SetDefaults();
    h.settings.m_nUnsent = 4;
    h.db.reachable = false;
    h.gateway.CountUnsent();
    EXPECT_EQ(0, h.run.m_bDatabaseLinked.load());
    EXPECT_EQ(4, h.settings.m_nUnsent);
}

TEST_F(OutboundTest, FailedUpdateIsJournalledAndNeverResent) {
    TempDirJournal journal;
    h.gateway.SetJournalPath(journal.path);
    h.AddOutboxRow("9", "+491", "once");
    h.gateway.CountUnsent();
    h.db.failExecutes = 1;  // the update after the send fails
    h.gateway.SendPending();
    EXPECT_EQ(1u, h.modem.sent.size());
    EXPECT_EQ(0, h.run.m_bDatabaseLinked.load());
    EXPECT_TRUE(h.gateway.Journal().Contains("9"));

    // A restart reads the journal back from its file.
    COutboxJournal reread(journal.path);
    EXPECT_TRUE(reread.Contains("9"));

    // Next cycle: the row is still at status 0 in the table, but the journal writes
    // its result first and the driver never sees it again.
    h.run.m_bDatabaseLinked = 1;
    Cycle();
    EXPECT_EQ(1u, h.modem.sent.size());
    ASSERT_FALSE(h.db.executed.empty());
    EXPECT_EQ("update smsout set status=1 where msgid=9", h.db.executed.front());
    EXPECT_TRUE(h.gateway.Journal().Empty());
}

TEST_F(OutboundTest, StopBeforeTheDeviceCheckLeavesTheRowUnsent) {
    h.AddOutboxRow("1", "+491", "a");
    h.gateway.CountUnsent();
    h.run.m_bStop = 1;
    h.gateway.SendPending();
    EXPECT_TRUE(h.modem.sent.empty());
    EXPECT_TRUE(h.db.executed.empty());
}
