#include "GatewayProcess.h"
#include "GatewayRig.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

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

namespace {

std::vector<std::string> Statuses(GatewayRig& rig) {
    return rig.Rows("select msgid, status from smsout order by msgid", {"msgid", "status"});
}

std::vector<std::string> SubmittedResults(GatewayRig& rig) {
    std::vector<std::string> results;
    for (const std::string& line : rig.sim.Submitted()) {
        size_t at = line.find("\"result\":\"");
        results.push_back(at == std::string::npos ? "?" : line.substr(at + 10, line.find('"', at + 10) - at - 10));
    }
    return results;
}

}  // namespace

// After Ctrl-Z the PDU belongs to the modem: a late answer is waited for, no answer is
// "unknown"; neither sends the PDU a second time, in this cycle or any later one.
TEST(GatewayOutbound, AnswerAfterThePduIsWaitedForAndNeverAnsweredByASecondSubmission) {
    GatewayRig rig;
    rig.Passes(1);
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'late')");
    rig.mobile->m_nCommandLimit = 2;  // the answer comes well after any command's limit
    rig.sim.Control("FAULT CMGS 1 late 6000");
    rig.gateway->CountUnsent();
    rig.gateway->SendPending();
    EXPECT_EQ((std::vector<std::string>{"1|1"}), Statuses(rig));

    rig.mobile->m_nAnswerLimit = 3;
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(2, '+491', 'never answered')");
    rig.sim.Control("FAULT CMGS 1 silent");
    rig.gateway->CountUnsent();
    rig.gateway->SendPending();
    rig.Passes(12);  // two more query ticks
    EXPECT_EQ((std::vector<std::string>{"1|1", "2|-2"}), Statuses(rig));
    EXPECT_EQ((std::vector<std::string>{"ok", "ok"}), SubmittedResults(rig));
    EXPECT_EQ(1, rig.settings.m_nSent);
    EXPECT_EQ(1, rig.settings.m_nFailed);
}

TEST(GatewayOutbound, MissingPromptIsLeftWithEscAndTheNextRowGoesOut) {
    GatewayRig rig;
    rig.Passes(1);
    rig.mobile->m_nCommandLimit = 2;
    rig.mobile->SetSendAttempts(1);
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'no prompt')");
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(2, '+491', 'next')");
    rig.sim.Control("FAULT CMGS 1 noprompt");
    rig.gateway->CountUnsent();
    rig.gateway->SendPending();
    EXPECT_EQ((std::vector<std::string>{"1|-1", "2|1"}), Statuses(rig));
    // The modem left PDU input on ESC; no later command was taken as PDU text.
    EXPECT_EQ((std::vector<std::string>{"cancelled", "ok"}), SubmittedResults(rig));
    ASSERT_EQ(2u, rig.Submitted().size());
    EXPECT_EQ("next ", rig.Submitted()[1].m_strText);
}

TEST(GatewayOutbound, UpdateRefusedWithAUniqueViolationKeepsTheJournalAndNeverResends) {
    GatewayRig rig;
    rig.Passes(1);
    rig.Sql("insert into smsout(msgid, phone, msgbody, status) values(1, '+491', 'done', 1)");
    rig.Sql("create unique index one_per_status on smsout(status)");
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(2, '+491', 'once')");
    rig.gateway->CountUnsent();
    rig.gateway->SendPending();
    EXPECT_EQ(0, rig.run.m_bDatabaseLinked.load());
    EXPECT_EQ(STATUS_UPDATE_ERROR, rig.status.LastStatus());
    EXPECT_TRUE(rig.gateway->Journal().Contains("2"));
    rig.Passes(12);  // reconnects, tries the update again, still refused
    EXPECT_EQ((std::vector<std::string>{"1|1", "2|0"}), Statuses(rig));
    rig.Sql("drop index one_per_status");
    rig.Passes(6);
    EXPECT_EQ((std::vector<std::string>{"1|1", "2|1"}), Statuses(rig));
    EXPECT_TRUE(rig.gateway->Journal().Empty());
    EXPECT_EQ(1u, rig.Submitted().size());
}

// A text id with SQL in it changes its own row only, or, where the template leaves the id
// unquoted, is refused without sending.
TEST(GatewayOutbound, TextMessageIdChangesOnlyItsOwnRow) {
    for (const char* updateSql : {DEFAULT_UPDATE_SQL, "update smsout set status=<RESULT> where msgid=<MSGID>"}) {
        GatewayRig rig;
        rig.Sql("drop table smsout");
        rig.Sql("create table smsout(msgid TEXT PRIMARY KEY, phone TEXT, msgbody TEXT, status INTEGER DEFAULT 0)");
        rig.Sql("insert into smsout values('1', '+491', 'other', 7)");
        rig.Sql("insert into smsout values('1 or 1=1', '+491', 'hostile', 0)");
        rig.Sql("insert into smsout values('x''; drop table smsout; --', '+491', 'hostile', 0)");
        rig.settings.m_strUpdateSql = updateSql;
        rig.Passes(1);
        bool quoted = std::string(updateSql) == DEFAULT_UPDATE_SQL;
        const std::string s = quoted ? "1" : "0";
        EXPECT_EQ((std::vector<std::string>{"1|7", "1 or 1=1|" + s, "x'; drop table smsout; --|" + s}), Statuses(rig))
            << updateSql;
        EXPECT_EQ(quoted ? 2u : 0u, rig.Submitted().size()) << updateSql;
        EXPECT_EQ(1, rig.run.m_bDatabaseLinked.load());
    }
}

// The longest text of the letter that the codec's long encoding fits into two parts.
std::string FillsTwoLongParts(const std::string& letter) {
    std::string text;
    for (;;) {
        CSmsPdu pdu;
        pdu.m_strPhone = "+491";
        pdu.m_strText = text + letter;
        pdu.m_nKind = KIND_LONG;
        if (pdu.EncodeLong() != PDU_OK || pdu.m_nSegmentCount > 2) return text;
        text += letter;
    }
}

// The blank after every text stays unless it would cost one more SMS.
TEST(GatewayOutbound, AppendedBlankNeverAddsASegment) {
    std::string ucs2;
    for (int i = 0; i < 70; ++i) ucs2 += "я";
    const std::string fullLong = FillsTwoLongParts("b");
    struct Case {
        std::string text;
        int longSms;
        size_t pdus;
        bool blank;
    } cases[] = {
        {"Hello", 0, 1, true},
        {std::string(159, 'a'), 0, 1, true},
        {std::string(160, 'a'), 0, 1, false},
        {ucs2.substr(2), 0, 1, true},
        {ucs2, 0, 1, false},
        {fullLong.substr(1), 1, 2, true},
        {fullLong, 1, 2, false},
    };
    GatewayRig rig;
    rig.Passes(1);
    for (const auto& c : cases) {
        rig.sim.Control("RECORD CLEAR");
        rig.settings.m_bLongSms = c.longSms;
        rig.Sql("delete from smsout");
        rig.Sql("insert into smsout(phone, msgbody) values('+491', '" + c.text + "')");
        rig.gateway->CountUnsent();
        rig.gateway->SendPending();
        auto sent = rig.Submitted();
        ASSERT_EQ(c.pdus, sent.size()) << c.text;
        std::string whole;
        for (const auto& pdu : sent) whole += pdu.m_strText;
        EXPECT_EQ(c.blank ? c.text + " " : c.text, whole) << c.text;
    }
}

// Another program keeps writing the outbox, with an ordinary busy time-out, while the
// gateway works through a long one.
TEST(GatewayOutbound, OtherWritersNeverFailWhileThousandRowsAreSent) {
    GatewayRig rig;
    rig.Passes(1);
    sqlite3* bulk = nullptr;
    sqlite3_open((TestDataSources::Get().Folder() + "/test.db").c_str(), &bulk);
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(bulk,
                                      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000) "
                                      "insert into smsout(phone, msgbody) select '+491', 'bulk ' || i from n",
                                      nullptr, nullptr, nullptr));
    sqlite3_close(bulk);
    std::atomic<int> inserted{0};
    std::string failure;
    std::thread writer([&] {
        sqlite3* other = nullptr;
        sqlite3_open((TestDataSources::Get().Folder() + "/test.db").c_str(), &other);
        sqlite3_busy_timeout(other, 5000);
        while (inserted < 50) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (sqlite3_exec(other, "insert into smsout(phone, msgbody, status) values('+491', 'app', 9)", nullptr,
                             nullptr, nullptr) != SQLITE_OK) {
                failure = sqlite3_errmsg(other);
                break;
            }
            ++inserted;
        }
        sqlite3_close(other);
    });
    rig.gateway->CountUnsent();
    rig.gateway->SendPending();
    writer.join();
    EXPECT_EQ("", failure);
    EXPECT_EQ(50, inserted.load());
    EXPECT_EQ((std::vector<std::string>{"1000"}),
              rig.Rows("select count(*) as n from smsout where status=1", {"n"}));
    EXPECT_EQ(1000u, rig.sim.Submitted().size());
}

// A modem that starts again while the gateway waits for its prompt took nothing: the row
// stays pending and goes out once, after the link was set up again. One that starts again
// after the PDU may have sent it: -2 at once, without waiting out the answer limit, and
// never a second submission.
TEST(GatewayOutbound, ModemRestartAtThePromptSendsLaterAndAfterThePduGivesUnknown) {
    struct Case {
        const char* fault;
        const char* status;
        std::vector<std::string> results;
    } cases[] = {
        {"restart", "1|1", {"ok"}},
        {"restart-pdu", "1|-2", {"restart"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        GatewayRig rig;
        rig.Passes(1);
        rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'across a restart')");
        rig.sim.Control(std::string("FAULT CMGS 1 ") + c.fault);
        rig.gateway->CountUnsent();
        rig.gateway->SendPending();
        EXPECT_EQ(0, rig.run.m_bDeviceLinked.load());  // set up again before anything else
        for (int i = 0; i < 100 && Statuses(rig) != std::vector<std::string>{c.status}; ++i) rig.Passes(1);
        rig.Passes(12);  // two more query ticks
        EXPECT_EQ(std::vector<std::string>{c.status}, Statuses(rig));
        EXPECT_EQ(c.results, SubmittedResults(rig));
        EXPECT_NE(std::string::npos, FileText(rig.dir.file("Pellwick.log")).find("Modem restarted or gone"));
        EXPECT_TRUE(rig.gateway->Journal().Empty());
    }
}

#ifdef PELLWICK_BINARY

// kill -9 after the modem took the PDU and before its answer: after the restart the row
// is written as unknown (-2) and never submitted again, and the outbox goes on.
TEST(GatewayOutbound, KilledBetweenCtrlZAndTheAnswerGivesUnknownAndNoSecondSubmission) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'in flight')");
    rig.sim.Control("FAULT CMGS 1 silent");

    pid_t gateway = StartGatewayProcess(rig.dir.path());
    ASSERT_GT(gateway, 0);
    bool submitted = WaitFor([&] { return !rig.sim.Submitted().empty(); }, 120);
    EndProcess(gateway, SIGKILL);
    ASSERT_TRUE(submitted) << FileText(rig.dir.file("Pellwick.log"));
    EXPECT_EQ(std::vector<std::string>{"1|sending"}, StateRows(rig.StatePath(), "select msgid, state from outbound_journal"));

    rig.sim.Control("FAULT CLEAR");
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(2, '+491', 'after the restart')");
    gateway = StartGatewayProcess(rig.dir.path());
    bool done = WaitFor([&] { return Statuses(rig) == std::vector<std::string>{"1|-2", "2|1"}; }, 120);
    EndProcess(gateway, SIGTERM);
    EXPECT_TRUE(done) << FileText(rig.dir.file("Pellwick.log"));
    auto sent = rig.Submitted();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("in flight ", sent[0].m_strText);
    EXPECT_EQ("after the restart ", sent[1].m_strText);
    EXPECT_TRUE(StateRows(rig.StatePath(), "select msgid from outbound_journal").empty());
    EXPECT_NE(std::string::npos, FileText(rig.dir.file("Pellwick.log")).find("result unknown (-2)"));
}
#endif

// A text no 64 segments could hold is refused by its length at once, and a message that
// arrives meanwhile is stored on the same passes.
TEST(GatewayOutbound, OversizedTextIsRefusedAtOnceWhileTheInboxGoesOn) {
    GatewayRig rig;
    rig.settings.m_bLongSms = 1;
    rig.Passes(1);
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(6, '+491', '" + std::string(1 << 20, 'x') + "')");
    rig.sim.Control("DELIVER from=+4917011111 via=direct text=meanwhile");
    const auto start = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 20 && rig.Rows("select msgid from smsout where status=-1", {"msgid"}).empty(); ++pass)
        rig.Passes(1);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    rig.Passes(2);
    EXPECT_EQ((std::vector<std::string>{"6|-1"}), rig.Rows("select msgid, status from smsout", {"msgid", "status"}));
    EXPECT_LT(elapsed, std::chrono::seconds(1));
    EXPECT_TRUE(rig.Submitted().empty());
    EXPECT_EQ((std::vector<std::string>{"+4917011111|meanwhile"}),
              rig.Rows("select phone, msgbody from smsin", {"phone", "msgbody"}));
}
