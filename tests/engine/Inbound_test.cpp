#include "EngineHarness.h"
#include "support/JournalCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

struct InboundTest : ::testing::Test {
    EngineHarness h;
    void SetUp() override { h.LinksUp(); }
    void Store(const std::string& mem, int index, const std::string& text, int kind = 1) {
        h.modem.stores[mem][index] = {"+4917", text, "261207093000", kind};
    }
};

TEST_F(InboundTest, InsertCountsSavesAndStoresTheTimeValue) {
    EXPECT_EQ(1, h.gateway.InsertReceived("+4917", "it's ok", "991231235959"));
    ASSERT_EQ(1u, h.db.executed.size());
    EXPECT_EQ("insert into smsin(phone, msgbody, rectime) values('+4917', 'it''s ok', '2099-12-31 23:59:59')",
              h.db.executed[0]);
    EXPECT_EQ(1, h.settings.m_nReceived);
    EXPECT_EQ(1, h.saves);
    EXPECT_EQ(STATUS_INSERTING_SMS, h.status.LastStatus());
}

TEST_F(InboundTest, InsertErrorShows22AndKeepsTheLink) {
    h.db.failExecutes = 1;
    EXPECT_NE(1, h.gateway.InsertReceived("+4917", "<STATUS>", "261207093000"));
    EXPECT_EQ(STATUS_INSERT_ERROR, h.status.LastStatus());
    EXPECT_EQ(1, h.run.m_bDatabaseLinked.load());
    EXPECT_EQ(0, h.settings.m_nReceived);
    EXPECT_TRUE(h.modem.sent.empty());  // no reply after a failed insert
}

TEST_F(InboundTest, ScanReadsUpToTheLastUsedIndexOnly) {
    Store("SM", 2, "a");
    Store("SM", 5, "b");
    Store("SM", 9, "c");
    EXPECT_EQ(1, h.gateway.ScanStorage());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), h.modem.readIndexes);  // places may start at 0
    EXPECT_EQ((std::vector<int>{2, 5, 9}), h.modem.deleted);
    EXPECT_EQ(3u, h.db.executed.size());
    EXPECT_EQ(3, h.settings.m_nReceived);
}

TEST_F(InboundTest, StatusReportsAreDeletedUnread) {
    Store("SM", 1, "", 6);
    h.gateway.ScanStorage();
    EXPECT_EQ((std::vector<int>{1}), h.modem.deleted);
    EXPECT_TRUE(h.db.executed.empty());
}

TEST_F(InboundTest, StoresRotateWithFallBacks) {
    h.gateway.ScanStorage();
    h.gateway.ScanStorage();
    h.gateway.ScanStorage();
    h.gateway.ScanStorage();
    std::vector<std::string> selects;
    for (const auto& c : h.modem.calls)
        if (c.rfind("SetStorage", 0) == 0) selects.push_back(c.substr(11));
    EXPECT_EQ((std::vector<std::string>{"SM", "ME", "MT", "SM"}), selects);

    EngineHarness noSim;
    noSim.modem.refusedStores = {"SM"};
    noSim.gateway.ScanStorage();
    EXPECT_EQ("ME", noSim.modem.selected);
    EXPECT_EQ(1, noSim.gateway.NextStorage());
}

TEST_F(InboundTest, FailedInsertKeepsTheMessageAndReadsOn) {
    Store("SM", 1, "a");
    Store("SM", 2, "b");
    h.db.execute = [](const std::string& sql) { return sql.find("'a'") != std::string::npos ? 0 : 1; };
    h.gateway.ScanStorage();
    EXPECT_EQ((std::vector<int>{2}), h.modem.deleted);
    EXPECT_EQ((std::vector<int>{0, 1, 2}), h.modem.readIndexes);  // both messages seen: the scan ends there
}

TEST_F(InboundTest, DuplicateIsDeletedFromTheStoreAndCountedOnce) {
    Store("SM", 3, "again");
    h.db.execute = [](const std::string&) { return 99; };
    h.gateway.ScanStorage();
    EXPECT_EQ((std::vector<int>{3}), h.modem.deleted);
    EXPECT_EQ(1, h.settings.m_nReceived);
    EXPECT_TRUE(h.modem.stores["SM"].empty());
}

TEST_F(InboundTest, StopEndsTheScanBeforeTheNextRead) {
    Store("SM", 4, "x");
    h.run.m_bStop = 1;
    EXPECT_EQ(0, h.gateway.ScanStorage());
    EXPECT_TRUE(h.modem.readIndexes.empty());
}

TEST_F(InboundTest, HostileTextIsQuotedAndPlaceholdersInValuesStayLiteral) {
    h.gateway.InsertReceived("+1'--", "'); drop table smsin; -- <TIME> <MSGBODY>", "261207093000");
    EXPECT_EQ(
        "insert into smsin(phone, msgbody, rectime) values('+1''--', '''); drop table smsin; -- <TIME> <MSGBODY>', "
        "'2026-12-07 09:30:00')",
        h.db.executed.at(0));
}

TEST_F(InboundTest, StoreCheckScansOnlyStoresHoldingSomethingNew) {
    Store("ME", 3, "in me");
    Store("MT", 1, "stuck");
    h.db.execute = [](const std::string& sql) { return sql.find("stuck") != std::string::npos ? 0 : 1; };
    EXPECT_EQ(1, h.gateway.CheckStores());
    EXPECT_EQ((std::vector<std::string>{"GetStoreUse", "SetStorage ME", "SetStorage MT"}), h.modem.calls);
    EXPECT_EQ((std::vector<int>{3}), h.modem.deleted);
    EXPECT_EQ(1, h.settings.m_nReceived);  // only what the inbox took

    // Unchanged counts cost one query and nothing else; a new message is scanned at once.
    h.modem.calls.clear();
    h.gateway.CheckStores();
    EXPECT_EQ((std::vector<std::string>{"GetStoreUse"}), h.modem.calls);
    Store("SM", 7, "new");
    h.gateway.CheckStores();
    EXPECT_EQ((std::vector<std::string>{"GetStoreUse", "GetStoreUse", "SetStorage SM"}), h.modem.calls);
    EXPECT_EQ((std::vector<int>{3, 7}), h.modem.deleted);
}

// An insert template that cannot bind the received values is named in the journal when
// the database comes up and never run: the message is not taken, to be tried again.
TEST_F(InboundTest, TemplateThatCannotBindIsJournalledAndNeverRun) {
    TempDir dir;
    JournalCapture journal(dir.file("log"));
    h.settings.m_strInsertSql = "insert into smsin(phone, msgbody) values('+<PHONE>', '<MSGBODY>')";
    h.run.m_bDatabaseLinked = 0;
    h.gateway.ConnectLinks();
    journal.Lines("insert_sql refused");
    EXPECT_TRUE(journal.Has("insert_sql refused, not run: <PHONE> is part of a longer quoted text"));
    EXPECT_EQ(-1, h.gateway.InsertReceived("+4917", "x\\', now()); --", "261207093000"));
    EXPECT_TRUE(h.db.executed.empty());
    EXPECT_EQ(STATUS_INSERT_ERROR, h.status.LastStatus());
    EXPECT_EQ(0, h.settings.m_nReceived);
}
