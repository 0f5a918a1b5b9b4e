#include "EngineHarness.h"

#include "engine/SqlTemplates.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
    EXPECT_EQ("update smsout set status=1 where msgid='7'", h.db.executed[0]);
    EXPECT_EQ(1, h.settings.m_nSent);
    EXPECT_EQ(0, h.settings.m_nUnsent);
    EXPECT_GE(h.saves, 1);
    EXPECT_TRUE(h.gateway.Journal().Empty());
}

TEST_F(OutboundTest, RefusedSubmissionWritesMinusOneAndUnknownMinusTwo) {
    h.modem.sendResult = -1;
    h.AddOutboxRow("3", "+491", "x");
    Cycle();
    h.modem.sendResult = RESULT_UNKNOWN;
    h.AddOutboxRow("4", "+492", "y");
    Cycle();
    EXPECT_EQ((std::vector<std::string>{"update smsout set status=-1 where msgid='3'",
                                        "update smsout set status=-2 where msgid='4'"}),
              h.db.executed);
    EXPECT_EQ(2, h.settings.m_nFailed);
    EXPECT_EQ(0, h.settings.m_nSent);
}

// Rows that cannot be sent as they stand get -1 without any AT command; a row whose id
// the update template cannot name safely is not written at all.
TEST_F(OutboundTest, BadRowsAreRefusedBeforeTheModem) {
    struct Case {
        std::string id, phone, text, updateTemplate;
        std::string executed;  // "" = no statement
    } cases[] = {
        {"1", "+49 (170) 12-34.5x", "letters in the number", DEFAULT_UPDATE_SQL, "update smsout set status=-1 where msgid='1'"},
        {"2", "+49+170", "a second plus", DEFAULT_UPDATE_SQL, "update smsout set status=-1 where msgid='2'"},
        {"3", "123456789012345678901", "21 digits", DEFAULT_UPDATE_SQL, "update smsout set status=-1 where msgid='3'"},
        {"4", " - ", "no digit", DEFAULT_UPDATE_SQL, "update smsout set status=-1 where msgid='4'"},
        {"5", "+491", "", DEFAULT_UPDATE_SQL, "update smsout set status=-1 where msgid='5'"},
        {"6", "+491", std::string("nul\0inside", 10), DEFAULT_UPDATE_SQL, "update smsout set status=-1 where msgid='6'"},
        {"7", "+491", std::string(161, 'x'), DEFAULT_UPDATE_SQL, "update smsout set status=-1 where msgid='7'"},
        {"1 or 1=1", "+491", "id not digits", "update smsout set status=<RESULT> where msgid=<MSGID>", ""},
        {"8'", "+491", "quote in id", "update smsout set status=<RESULT> where msgid=\"<MSGID>\"", ""},
        {"9", "+491", "template that cannot bind the id", "update smsout set status=<RESULT> where msgid='#<MSGID>'", ""},
        {"", "+491", "empty id", DEFAULT_UPDATE_SQL, ""},
    };
    for (const auto& c : cases) {
        EngineHarness e;
        e.LinksUp();
        e.settings.m_strUpdateSql = c.updateTemplate;
        e.AddOutboxRow(c.id, c.phone, c.text);
        e.gateway.CountUnsent();
        e.gateway.SendPending();
        e.gateway.SendPending();  // a row left at status 0 is neither sent nor counted again
        EXPECT_TRUE(e.modem.sent.empty()) << c.id;
        EXPECT_TRUE(e.modem.calls.empty()) << c.id;
        EXPECT_EQ(c.executed.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.executed}, e.db.executed)
            << c.id;
        EXPECT_EQ(1, e.settings.m_nFailed) << c.id;
        EXPECT_EQ(1, e.run.m_bDatabaseLinked.load()) << c.id;
    }
}

// A text no 64 segments could hold is refused by its length, before any encoding, and
// the cycle goes on with the next row.
TEST_F(OutboundTest, OversizedTextIsRefusedBeforeAnyEncoding) {
    h.settings.m_bLongSms = 1;
    h.AddOutboxRow("1", "+491", std::string(1 << 20, 'x'));
    h.AddOutboxRow("2", "+492", "fits");
    Cycle();
    EXPECT_EQ(2, h.modem.encodings);  // the second row's only, with and without its blank
    ASSERT_EQ(1u, h.modem.sent.size());
    EXPECT_EQ("+492", h.modem.sent[0].phone);
    EXPECT_EQ((std::vector<std::string>{"update smsout set status=-1 where msgid='1'",
                                        "update smsout set status=1 where msgid='2'"}),
              h.db.executed);
}

TEST_F(OutboundTest, DialableNumberGoesOutWithoutSeparators) {
    h.AddOutboxRow("1", "(+49) 170-123.45 6", "x");
    Cycle();
    ASSERT_EQ(1u, h.modem.sent.size());
    EXPECT_EQ("+49170123456", h.modem.sent[0].phone);
}

TEST_F(OutboundTest, ReadsTheOutboxInBatchesAndSendsEachRowOnce) {
    for (int i = 0; i < 250; ++i) h.AddOutboxRow(std::to_string(i), "+491", "m" + std::to_string(i));
    h.db.execute = [](const std::string&) { return 1; };  // the update leaves every row selectable
    Cycle();
    EXPECT_EQ(250u, h.modem.sent.size());
    EXPECT_EQ(250u, h.db.executed.size());
    // The count, then three batches of up to 100 and one that brings nothing new.
    EXPECT_EQ(5u, h.db.queries.size());
    EXPECT_GE(h.db.closedQueries, 5);
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

TEST_F(OutboundTest, UnsuccessfulUpdateIsJournalledAndNeverResent) {
    for (int answer : {-1 /* throws */, 99, 0}) {
        EngineHarness e;
        e.LinksUp();
        TempDirState state;
        e.gateway.SetStateStore(&state.store);
        e.AddOutboxRow("9", "+491", "once");
        e.gateway.CountUnsent();
        e.db.execute = [answer](const std::string&) {
            if (answer < 0) throw CDbError(-1, "connection lost");
            return answer;
        };
        e.gateway.SendPending();
        EXPECT_EQ(1u, e.modem.sent.size()) << answer;
        EXPECT_EQ(0, e.run.m_bDatabaseLinked.load()) << answer;
        EXPECT_EQ(STATUS_UPDATE_ERROR, e.status.LastStatus()) << answer;
        // A restart reads the journal back from its file.
        EXPECT_TRUE(state.Journalled("9")) << answer;

        // Next cycle: the row is still at status 0 in the table, but the journal writes
        // its result first and the driver never sees it again.
        e.db.execute = nullptr;
        e.run.m_bDatabaseLinked = 1;
        e.gateway.CountUnsent();
        e.gateway.SendPending();
        EXPECT_EQ(1u, e.modem.sent.size()) << answer;
        EXPECT_EQ("update smsout set status=1 where msgid='9'", e.db.executed.back()) << answer;
        EXPECT_TRUE(e.gateway.Journal().Empty()) << answer;
    }
}

// A row found "sending" at start may have gone out: -2, never sent again. One found
// "prompting" never reached the modem: sent now, once.
TEST_F(OutboundTest, RowsFoundOnTheirWayAtStartAreWrittenAsUnknownOrSentOnce) {
    TempDirState state;
    state.store.PutJournal({"9", JournalState::Sending, 0});
    state.store.PutJournal({"10", JournalState::Result, 1});
    state.store.PutJournal({"11", JournalState::Prompting, 0});
    h.gateway.SetStateStore(&state.store);
    EXPECT_EQ(1, h.settings.m_nFailed);
    h.AddOutboxRow("9", "+491", "died in flight");
    h.AddOutboxRow("10", "+491", "sent, update lost");
    h.AddOutboxRow("11", "+491", "died before the prompt");
    Cycle();
    ASSERT_EQ(1u, h.modem.sent.size());
    EXPECT_EQ("died before the prompt ", h.modem.sent[0].text);
    EXPECT_EQ((std::vector<std::string>{"update smsout set status=-2 where msgid='9'",
                                        "update smsout set status=1 where msgid='10'",
                                        "update smsout set status=1 where msgid='11'"}),
              h.db.executed);
    EXPECT_TRUE(h.gateway.Journal().Empty());
    EXPECT_TRUE(state.Journal().empty());
}

// Prompting until the modem is ready for the PDU, sending from then on; nothing goes back.
TEST(OutboxJournal, StatesMoveOnlyForwardAndAnyIdSurvivesARestart) {
    TempDirState state;
    const std::string hostile = std::string("a\nb\\x0A c\r\0'", 12);
    COutboxJournal j;
    j.Attach(&state.store);
    ASSERT_TRUE(j.MarkPrompting(hostile));
    EXPECT_FALSE(j.MarkPrompting(hostile));
    ASSERT_TRUE(j.MarkSending(hostile));
    EXPECT_FALSE(j.MarkSending(hostile));  // never twice
    EXPECT_FALSE(j.MarkClaimed(hostile));
    ASSERT_TRUE(j.MarkClaimed("7"));
    ASSERT_TRUE(j.SetResult("7", -2));
    EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
              std::filesystem::status(state.path).permissions() & std::filesystem::perms::all);
    const auto reread = state.Journal();
    ASSERT_EQ(2u, reread.size());
    EXPECT_EQ(hostile, reread[0].msgId);
    EXPECT_EQ(JournalState::Sending, reread[0].state);
    EXPECT_EQ(JournalState::Result, reread[1].state);
    EXPECT_EQ(-2, reread[1].result);
    ASSERT_TRUE(j.Remove(hostile));
    ASSERT_TRUE(j.Remove("7"));
    EXPECT_TRUE(state.Journal().empty());
}

TEST_F(OutboundTest, StopBeforeTheDeviceCheckLeavesTheRowUnsent) {
    h.AddOutboxRow("1", "+491", "a");
    h.gateway.CountUnsent();
    h.run.m_bStop = 1;
    h.gateway.SendPending();
    EXPECT_TRUE(h.modem.sent.empty());
    EXPECT_TRUE(h.db.executed.empty());
}

// Several gateways on one outbox: a row goes to the modem only when this gateway's claim
// changed it; a claim journalled and not used is given back, at once or after a restart.
TEST(SharedOutbox, RowsAreClaimedBeforeTheModemAndGivenBackWhenNotSent) {
    enum Fault { None, ClaimLost, ClaimBroken, ModemSilent };
    struct Case {
        Fault fault;
        size_t sent;
        std::vector<std::string> executed;
    } cases[] = {
        {None, 1, {"claim '9' 'gw/a'", "update smsout set status=1 where msgid='9'"}},
        {ClaimLost, 0, {"claim '9' 'gw/a'", "release '9' 'gw/a'"}},
        // The claim may have been made before the connection broke: given back after the
        // reconnect, then claimed again and sent.
        {ClaimBroken, 1, {"release '9' 'gw/a'", "claim '9' 'gw/a'", "update smsout set status=1 where msgid='9'"}},
        {ModemSilent, 0, {"claim '9' 'gw/a'", "release '9' 'gw/a'"}},
    };
    for (const Case& c : cases) {
        EngineHarness h;
        h.LinksUp();
        TempDirState state;
        h.gateway.SetStateStore(&state.store);
        h.gateway.SetInstance("gw/a", false);
        h.settings.m_strClaimSql = "claim '<MSGID>' '<INSTANCE>'";
        h.settings.m_strReleaseSql = "release '<MSGID>' '<INSTANCE>'";
        h.AddOutboxRow("9", "+491", "once");
        h.modem.answersAt = c.fault != ModemSilent;
        Fault fault = c.fault;
        bool journalled = false;
        h.db.change = [&](const std::string& sql) -> long {
            if (sql.rfind("claim", 0) == 0) {
                journalled = state.Journalled("9");
                if (fault == ClaimBroken) throw CDbError(-1, "connection lost");
                return fault == ClaimLost ? 0 : 1;
            }
            if (sql.rfind("update", 0) == 0) h.db.outbox.clear();
            return 1;
        };
        h.gateway.CountUnsent();
        h.gateway.SendPending();
        EXPECT_TRUE(journalled) << c.fault;
        if (c.fault == ClaimBroken) {
            EXPECT_EQ(0, h.run.m_bDatabaseLinked.load());
            EXPECT_EQ(JournalState::Claimed, state.Journal().at(0).state);
            h.db.executed.clear();
            h.run.m_bDatabaseLinked = 1;
            fault = None;
            h.gateway.CountUnsent();
            h.gateway.SendPending();
        }
        EXPECT_EQ(c.sent, h.modem.sent.size()) << c.fault;
        EXPECT_EQ(c.executed, h.db.executed) << c.fault;
        EXPECT_TRUE(h.gateway.Journal().Empty()) << c.fault;
    }
}

TEST(SharedOutbox, OldClaimsAreTakenBackAndReportsNameTheGateway) {
    for (int timeout : {30, 0}) {
        EngineHarness h;
        h.LinksUp();
        h.gateway.SetInstance("gw/a", false);
        h.settings.m_strClaimSql = "claim '<MSGID>'";
        h.settings.m_strReclaimSql = "reclaim where owner<>'<INSTANCE>' and age > <TIMEOUT>";
        h.settings.m_nClaimTimeout = timeout;
        h.gateway.CountUnsent();
        EXPECT_EQ(timeout ? std::vector<std::string>{"reclaim where owner<>'gw/a' and age > 30"}
                          : std::vector<std::string>{},
                  h.db.executed);
        h.gateway.AnswerQuery("+491", "<STATUS>");
        ASSERT_EQ(1u, h.modem.sent.size());
        EXPECT_EQ("gw/a: Pellwick is running normally.", h.modem.sent[0].text);
    }
}

// Rows another gateway is sending cost this one a single lost claim per batch: it reads
// the outbox again (without them) instead of claiming them one by one.
TEST(SharedOutbox, ALostClaimReadsTheOutboxAgain) {
    EngineHarness h;
    h.LinksUp();
    TempDirState state;
    h.gateway.SetStateStore(&state.store);
    h.gateway.SetInstance("gw/a", false);
    h.settings.m_strClaimSql = "claim '<MSGID>'";
    h.settings.m_strReleaseSql = "release '<MSGID>'";
    for (int id = 1; id <= 40; ++id) h.AddOutboxRow(std::to_string(id), "+491", "x");
    int claims = 0, lost = 0;
    h.db.change = [&](const std::string& sql) -> long {
        const std::string id = sql.substr(sql.find('\'') + 1, sql.rfind('\'') - sql.find('\'') - 1);
        if (sql.rfind("claim", 0) == 0) {
            ++claims;
            // Rows 11 to 40 are claimed by the others, and taken out of the outbox meanwhile.
            if (std::stoi(id) <= 10) return 1;
            ++lost;
            std::erase_if(h.db.outbox, [&](const auto& row) { return row.at("zMsgID") == id; });
            return 0;
        }
        if (sql.rfind("update", 0) == 0)
            std::erase_if(h.db.outbox, [&](const auto& row) { return row.at("zMsgID") == id; });
        return 1;
    };
    h.gateway.CountUnsent();
    h.gateway.SendPending();
    EXPECT_EQ(10u, h.modem.sent.size());
    // Each lost claim ends its batch: a new select follows every one.
    EXPECT_GT(lost, 0);
    EXPECT_LE(lost, static_cast<int>(h.db.queries.size()));
    EXPECT_EQ(claims, 10 + lost);
}
