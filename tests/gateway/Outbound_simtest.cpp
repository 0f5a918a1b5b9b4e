#include "GatewayRig.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

TEST(GatewayOutbound, RowsAreSentWithTheirTextAndUpdatedToOne) {
    GatewayRig rig;
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(7, '+4917012345', 'Hello')");
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(8, '+4917099999', 'Grüße, it''s €5')");
    rig.Passes(1);
    EXPECT_EQ(1, rig.run.m_bDatabaseLinked.load());
    EXPECT_EQ(1, rig.run.m_bDeviceLinked.load());
    EXPECT_EQ((std::vector<std::string>{"7|1", "8|1"}),
              rig.Rows("select msgid, status from smsout order by msgid", {"msgid", "status"}));
    auto sent = rig.Submitted();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("+4917012345", sent[0].m_strPhone);
    EXPECT_EQ("Hello ", sent[0].m_strText);
    EXPECT_EQ("Grüße, it's €5 ", sent[1].m_strText);
    EXPECT_EQ(2, rig.settings.m_nSent);
    EXPECT_EQ(0, rig.settings.m_nUnsent);
    EXPECT_EQ("MODEMSIM", rig.gateway->Device().brand);
}

TEST(GatewayOutbound, RefusedSubmissionsAreWrittenAsMinusOne) {
    GatewayRig rig;
    rig.mobile->SetSendAttempts(1);
    rig.sim.Control("FAULT CMGS 10 prompt");
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'no')");
    rig.Passes(1);
    EXPECT_EQ((std::vector<std::string>{"1|-1"}), rig.Rows("select msgid, status from smsout", {"msgid", "status"}));
    EXPECT_EQ(1, rig.settings.m_nFailed);
    EXPECT_EQ(0, rig.settings.m_nSent);
}

TEST(GatewayOutbound, SilentModemSkipsRowsUntilItAnswersAgain) {
    GatewayRig rig;
    rig.Passes(1);  // links up
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(3, '+491', 'later')");
    rig.sim.Control("FAULT SILENT 3");  // the three device checks of the row
    rig.gateway->CountUnsent();
    rig.gateway->SendPending();
    EXPECT_EQ((std::vector<std::string>{"3|0"}), rig.Rows("select msgid, status from smsout", {"msgid", "status"}));
    EXPECT_TRUE(rig.Submitted().empty());
    rig.gateway->CountUnsent();
    rig.gateway->SendPending();
    EXPECT_EQ((std::vector<std::string>{"3|1"}), rig.Rows("select msgid, status from smsout", {"msgid", "status"}));
    EXPECT_EQ(1u, rig.Submitted().size());
}

TEST(GatewayOutbound, PauseClosesBothLinksAndResumeReopensThem) {
    GatewayRig rig;
    rig.Passes(1);
    rig.run.m_bRunning = 0;
    rig.Passes(1);
    EXPECT_EQ(0, rig.run.m_bDatabaseLinked.load());
    EXPECT_EQ(0, rig.run.m_bDeviceLinked.load());
    EXPECT_EQ("", rig.gateway->Device().imei);
    rig.run.m_bRunning = 1;
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(4, '+491', 'back')");
    rig.Passes(4);  // ticks 2 to 5: the outbox is sent on tick 5
    EXPECT_EQ(1, rig.run.m_bDeviceLinked.load());
    EXPECT_EQ("351234567890123", rig.gateway->Device().imei);
    EXPECT_EQ((std::vector<std::string>{"4|1"}), rig.Rows("select msgid, status from smsout", {"msgid", "status"}));
}

TEST(GatewayOutbound, BrokenUpdateIsJournalledAndTheRowNeverSentTwice) {
    GatewayRig rig;
    rig.Passes(1);
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(5, '+491', 'once')");
    rig.settings.m_strUpdateSql = "update no_such_table set status=<RESULT> where msgid=<MSGID>";
    rig.gateway->CountUnsent();
    rig.gateway->SendPending();
    EXPECT_EQ(0, rig.run.m_bDatabaseLinked.load());
    EXPECT_EQ(STATUS_UPDATE_ERROR, rig.status.LastStatus());
    EXPECT_TRUE(rig.gateway->Journal().Contains("5"));

    rig.settings.m_strUpdateSql = DEFAULT_UPDATE_SQL;  // the database "comes back"
    rig.gateway->ConnectLinks();
    rig.gateway->SendPending();
    EXPECT_EQ((std::vector<std::string>{"5|1"}), rig.Rows("select msgid, status from smsout", {"msgid", "status"}));
    EXPECT_EQ(1u, rig.Submitted().size());
    EXPECT_TRUE(rig.gateway->Journal().Empty());
}

TEST(GatewayOutbound, OutboxStaysWritableForOtherProgramsBetweenCycles) {
    GatewayRig rig;
    rig.Passes(2);  // the count ran; no cursor may stay open afterwards
    sqlite3* other = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((TestDataSources::Get().Folder() + "/test.db").c_str(), &other));
    sqlite3_busy_timeout(other, 0);  // no waiting: a lock held by the gateway fails at once
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(other, "insert into smsout(phone, msgbody) values('+491', 'app')", nullptr,
                                      nullptr, nullptr))
        << sqlite3_errmsg(other);
    sqlite3_close(other);
}
