#include "GatewayProcess.h"
#include "GatewayRig.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>

namespace {

std::vector<std::string> Inbox(GatewayRig& rig) {
    return rig.Rows("select phone, msgbody, rectime from smsin order by msgbody", {"phone", "msgbody", "rectime"});
}

}  // namespace

TEST(GatewayInbound, IndicatedAndDirectMessagesReachTheInbox) {
    GatewayRig rig;
    rig.Passes(1);
    rig.sim.Control("DELIVER from=+4917011111 via=store ts=261207093000+04 text=stored 1");
    rig.Passes(2);
    rig.sim.Control("DELIVER from=+4917022222 via=direct ts=261207093100+04 text=direct 2");
    rig.Passes(2);
    EXPECT_EQ((std::vector<std::string>{"+4917022222|direct 2|2026-12-07 09:31:00",
                                        "+4917011111|stored 1|2026-12-07 09:30:00"}),
              Inbox(rig));
    EXPECT_EQ(2, rig.settings.m_nReceived);
    EXPECT_EQ("OK", rig.sim.Control("LIST").substr(0, 2));  // both gone from the modem
}

TEST(GatewayInbound, AlphabetsAndHostileTextsAreStoredExactly) {
    GatewayRig rig;
    rig.Passes(1);
    const std::vector<std::string> texts = {
        "Ωμέγα ΔΦΓ",  // Greek, UCS2
        "emoji \xF0\x9F\x98\x80 ok",
        "it's 'quoted'",
        "x'); drop table smsout; --",
        "{€} [ok] ~",
    };
    for (const auto& t : texts) rig.sim.Control("DELIVER from=+4917 via=store text=" + t);
    rig.sim.Control("DELIVER alpha=BANK via=store text=from a bank");
    rig.Passes(7);  // one indication per poll
    auto inbox = rig.Rows("select phone, msgbody from smsin", {"phone", "msgbody"});
    ASSERT_EQ(texts.size() + 1, inbox.size()) << testing::PrintToString(inbox);
    for (const auto& t : texts)
        EXPECT_NE(std::find(inbox.begin(), inbox.end(), "+4917|" + t), inbox.end()) << t;
    EXPECT_NE(std::find(inbox.begin(), inbox.end(), "BANK|from a bank"), inbox.end());
    EXPECT_EQ(0u, rig.Rows("select msgid from smsout", {"msgid"}).size());  // the table is still there
}

TEST(GatewayInbound, StoreScanRotatesAndDeletesWhatItDealtWith) {
    GatewayRig rig;
    rig.Passes(1);
    rig.sim.Control("DELIVER from=+491 via=silent mem=SM text=in sm");
    rig.sim.Control("DELIVER from=+492 via=silent mem=ME text=in me");
    rig.sim.Control("DELIVER from=+493 via=silent mem=MT text=in mt");
    rig.sim.Control("REPORT mr=5 via=silent mem=SM");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(1, rig.gateway->ScanStorage());
    auto inbox = rig.Rows("select msgbody from smsin order by msgbody", {"msgbody"});
    EXPECT_EQ((std::vector<std::string>{"in me", "in mt", "in sm"}), inbox);
    EXPECT_EQ("OK", rig.sim.Control("LIST").substr(0, 2));  // every store empty
}

TEST(GatewayInbound, DuplicateLeavesTheStoreAndIsCountedOnce) {
    GatewayRig rig;
    rig.Passes(1);
    rig.sim.Control("DELIVER from=+491 via=silent mem=SM ts=261207093000+04 text=twice");
    rig.sim.Control("DELIVER from=+491 via=silent mem=SM ts=261207093000+04 text=twice");
    for (int i = 0; i < 3; ++i) rig.gateway->ScanStorage();  // SM comes round again
    EXPECT_EQ(1u, rig.Rows("select msgbody from smsin", {"msgbody"}).size());
    EXPECT_EQ(2, rig.settings.m_nReceived);
    EXPECT_EQ("OK", rig.sim.Control("LIST SM").substr(0, 2));
}

TEST(GatewayInbound, QueriesAreAnsweredToTheSender) {
    GatewayRig rig;
    rig.Passes(1);
    rig.sim.Control("DELIVER from=+4917055555 via=direct text=please <STATUS>");
    rig.Passes(2);
    rig.sim.Control("DELIVER from=+4917055555 via=direct text=<REPORT>");
    rig.Passes(2);
    rig.sim.Control("DELIVER from=+4917055555 via=direct text=<status>");
    rig.Passes(2);
    auto sent = rig.Submitted();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("+4917055555", sent[0].m_strPhone);
    EXPECT_EQ("Pellwick is running normally.", sent[0].m_strText);
    EXPECT_EQ("SMS Service report: unsent:0, sent:0, fail:0, recevied:2", sent[1].m_strText);
}

TEST(GatewayInbound, MessagesWaitInTheModemWhileTheDatabaseIsDown) {
    GatewayRig rig;
    rig.settings.m_strDsn = "PwNoFolder";
    rig.sim.Control("DELIVER from=+491 via=store text=waiting");
    rig.Passes(2);
    EXPECT_EQ(0, rig.run.m_bDatabaseLinked.load());
    EXPECT_NE("OK", rig.sim.Control("LIST").substr(0, 2));
    rig.settings.m_strDsn = "PwSqlite";
    rig.Passes(1);  // reconnects; the scan of every store after the outage collects it
    for (int i = 0; i < 60 && rig.Rows("select msgbody from smsin", {"msgbody"}).empty(); ++i) rig.Passes(1);
    EXPECT_EQ((std::vector<std::string>{"waiting"}), rig.Rows("select msgbody from smsin", {"msgbody"}));
}

// --- Exactly once, whatever fails ------------------------------------------------------------

namespace {

int FileMode(const std::string& path) {
    return static_cast<int>(std::filesystem::status(path).permissions() & std::filesystem::perms::all);
}

// How often each text is in the inbox.
std::map<std::string, int> InboxCounts(GatewayRig& rig) {
    std::map<std::string, int> counts;
    for (const auto& body : rig.Rows("select msgbody from smsin", {"msgbody"})) ++counts[body];
    return counts;
}

bool ModemEmpty(GatewayRig& rig) { return rig.sim.Control("LIST") == "OK\n"; }

std::string HexOf(const std::string& text) {
    std::string hex;
    for (unsigned char c : text) hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
    return hex;
}

// Passes until done() holds, at most `limit`; true when it did.
bool PassUntil(GatewayRig& rig, const std::function<bool()>& done, int limit = 300) {
    for (int i = 0; i < limit; ++i) {
        if (done()) return true;
        rig.Passes(1);
    }
    return done();
}

// Every text in the inbox exactly once, nothing else there, nothing left in the modem or spool.
void ExpectExactlyOnce(GatewayRig& rig, const std::vector<std::string>& texts) {
    std::map<std::string, int> expected;
    for (const auto& t : texts) expected[t] = 1;
    EXPECT_TRUE(PassUntil(rig, [&] { return InboxCounts(rig) == expected && ModemEmpty(rig); }))
        << testing::PrintToString(InboxCounts(rig)) << rig.sim.Control("LIST");
    EXPECT_TRUE(rig.gateway->Spool().Empty());
    EXPECT_TRUE(StateRows(rig.StatePath(), "select id from waiting_messages").empty());
}

// An exclusive lock on the SQLite file: every statement of the gateway waits, then fails.
struct FileLock : SqliteLock {
    FileLock() : SqliteLock(TestDatabaseFile()) {}
};

}  // namespace

// A +CMT and a +CMTI in the same read are two messages.
TEST(GatewayInbound, DirectAndStoredIndicationsBackToBackAreAllStored) {
    GatewayRig rig;
    rig.Passes(1);
    std::vector<std::string> texts;
    for (int i = 0; i < 10; ++i) {
        texts.push_back("direct " + std::to_string(i));
        texts.push_back("stored " + std::to_string(i));
        rig.sim.Control("DELIVER from=+491 via=direct text=" + texts[texts.size() - 2]);
        rig.sim.Control("DELIVER from=+492 via=store mem=SM text=" + texts.back());
    }
    ExpectExactlyOnce(rig, texts);
}

// While inserts fail, messages arriving by +CMT, by +CMTI and silently wait in the spool and the
// modem; once the database takes rows again, each reaches the inbox once.
TEST(GatewayInbound, MessagesDuringAnOutageArriveOnceAfterIt) {
    const char* seconds = std::getenv("PW_OUTAGE_SECONDS");
    const auto outage = std::chrono::seconds(seconds ? std::atoi(seconds) : 3);
    struct Case {
        const char* name;
        const char* dsn;  // a short busy time-out keeps each pass against the locked file short
        std::function<void(GatewayRig&)> begin, end;
    };
    std::unique_ptr<FileLock> lock;
    const Case cases[] = {
        {"table renamed", "PwSqlite", [](GatewayRig& rig) { rig.Sql("alter table smsin rename to smsin_away"); },
         [](GatewayRig& rig) { rig.Sql("alter table smsin_away rename to smsin"); }},
        {"file locked", "PwSqliteQuick", [&](GatewayRig&) { lock = std::make_unique<FileLock>(); },
         [&](GatewayRig&) { lock.reset(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GatewayRig rig;
        rig.settings.m_strDsn = c.dsn;
        rig.Passes(1);
        c.begin(rig);
        rig.sim.Control("DELIVER from=+491 via=direct text=by cmt");
        rig.sim.Control("DELIVER from=+492 via=store mem=SM text=by cmti");
        rig.sim.Control("DELIVER from=+493 via=silent mem=ME text=silent");
        const auto end = std::chrono::steady_clock::now() + outage;
        while (std::chrono::steady_clock::now() < end) rig.Passes(1);
        EXPECT_EQ(1u, rig.gateway->Spool().Entries().size());
        EXPECT_EQ(std::vector<std::string>{"+491|by cmt"},
                  StateRows(rig.StatePath(), "select phone, text from waiting_messages"));
        EXPECT_EQ(0600, FileMode(rig.StatePath()));
        c.end(rig);
        const auto back = std::chrono::steady_clock::now();
        ExpectExactlyOnce(rig, {"by cmt", "by cmti", "silent"});
        std::cout << c.name << ": " << outage.count() << " s outage, all stored "
                  << std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count()
                  << " s after the database was back\n";
    }
}

// The gateway killed between reading a message and storing it, or between storing and deleting it
// from the modem: after a restart every message is in the inbox once. The killed gateway is a child
// process running the same engine; the restarted one is this process's.
TEST(GatewayInbound, KilledMidWayStoresEachMessageOnceAfterRestart) {
    struct Case {
        const char* name;
        const char* deliver;
        bool lockDatabase;    // the insert waits on the lock: killed before it commits
        const char* waitFor;  // the record line that shows the gateway is where it is killed
    };
    const Case cases[] = {
        {"direct, before the insert", "via=direct", true, nullptr},
        {"stored, before the insert", "via=store mem=SM", true, "\"AT+CMGR=1\""},
        {"stored, before the delete", "via=store mem=SM", false, "\"AT+CMGD=1\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GatewayRig rig;
        if (!c.lockDatabase) rig.sim.Control("FAULT MUTE AT+CMGD");
        const pid_t child = ::fork();
        if (child == 0) {
            for (;;) rig.Passes(1);
        }
        ASSERT_GT(child, 0);
        auto seen = [&](const char* what) {
            for (const auto& line : rig.sim.Records())
                if (line.find(what) != std::string::npos) return true;
            return false;
        };
        // Generous: with the database locked, one pass may wait out several busy time-outs
        // before it drains the modem's indications again.
        auto waitUntil = [](const std::function<bool()>& done) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(180);
            while (!done() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return done();
        };
        // Linked and past the first full scan of the stores.
        EXPECT_TRUE(waitUntil([&] { return seen("\"AT+CPMS=\\\"MT\\\"\""); }));
        std::unique_ptr<FileLock> lock;
        if (c.lockDatabase) lock = std::make_unique<FileLock>();
        rig.sim.Control(std::string("DELIVER from=+491 ") + c.deliver + " text=" + c.name);
        EXPECT_TRUE(waitUntil([&] {
            return c.waitFor ? seen(c.waitFor) : !StateRows(rig.StatePath(), "select id from waiting_messages").empty();
        }));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        lock.reset();
        rig.sim.Control("FAULT CLEAR");
        rig.Restart();
        ExpectExactlyOnce(rig, {c.name});
    }
}

// The spool file of an earlier version, left by a run killed after the insert (before the spool
// was rewritten), is imported once: a message the inbox has already is not stored twice, a
// damaged line is kept as a rejected record, and the file is renamed.
TEST(GatewayInbound, SpoolFileOfAnEarlierVersionIsImportedAndStoredOnce) {
    GatewayRig rig;
    rig.Sql("insert into smsin(phone, msgbody, rectime) values('+491', 'stored before', '2026-12-07 09:30:00')");
    std::ofstream(rig.dir.file("Pellwick.spool"))
        << "1765099800 2B343931 323631323037303933303030 73746F726564206265666F7265\n"
        << "1765099801 2B343932 323631323037303933313030 6E6F74207965740A7468657265\n"
        << "17650998 2B3439\n";
    std::vector<std::string> damaged;
    std::string error;
    ASSERT_TRUE(rig.state.ImportOldFiles(rig.dir.path(), damaged, error)) << error;
    EXPECT_EQ(1u, damaged.size());
    EXPECT_TRUE(std::filesystem::exists(rig.dir.file("Pellwick.spool.imported")));
    ASSERT_TRUE(rig.state.ImportOldFiles(rig.dir.path(), damaged, error)) << error;  // nothing left to import
    rig.Restart();
    ASSERT_EQ(2u, rig.gateway->Spool().Entries().size());
    ExpectExactlyOnce(rig, {"stored before", "not yet\nthere"});
    EXPECT_EQ(std::vector<std::string>{"17650998 2B3439"}, StateRows(rig.StatePath(), "select pdu from rejected"));
}

// A truncated PDU, delivered directly or stored, goes to the reject file with where it came from,
// leaves the modem, and never reaches the inbox.
TEST(GatewayInbound, TruncatedPdusGoToTheRejectFileOnly) {
    GatewayRig rig;
    rig.Passes(1);
    rig.sim.Control("DELIVER via=silent mem=SM from=+491 text=whole message here");
    const std::string listed = ModemSim::Lines(rig.sim.Control("LIST SM")).at(0);
    const size_t at = listed.find("\"pdu\":\"") + 7;
    const std::string pdu = listed.substr(at, listed.find('"', at) - at);
    rig.sim.Control("CLEAR");
    const size_t tpdu = 2 + 2 * static_cast<size_t>(std::stoi(pdu.substr(0, 2), nullptr, 16));
    const std::string truncated = pdu.substr(tpdu, pdu.size() - tpdu - 10);  // the last 5 octets cut off
    rig.sim.Control("PDU via=direct hex=" + truncated);
    rig.sim.Control("PDU via=store mem=ME hex=" + truncated);
    rig.sim.Control("DELIVER via=direct from=+491 text=after them");
    ExpectExactlyOnce(rig, {"after them"});
    EXPECT_EQ((std::vector<std::string>{"direct|0|00" + truncated + "|does not decode",
                                        "ME|1|00" + truncated + "|does not decode"}),
              StateRows(rig.StatePath(), "select store, idx, pdu, reason from rejected order by id"));
}

// On PostgreSQL a CHECK violation is an insert error, not a duplicate: the message stays in the
// modem (or the spool) and is stored once the constraint allows it.
TEST(GatewayInboundPg, CheckViolationKeepsTheMessage) {
    TestDataSources& sources = TestDataSources::Get();
    if (!sources.HasPostgres()) GTEST_SKIP() << "no PostgreSQL server: run the tests through ctest";
    GatewayRig rig;
    rig.settings.m_strDsn = "PwPg";
    rig.settings.m_strDbUser = sources.Pg("PW_PG_USER");
    rig.settings.m_strDbPassword = sources.Pg("PW_PG_PASSWORD");
    auto admin = [&](const std::string& sql) {
        CAdoDatabase db;
        db.SetDataSource("PwPg");
        db.m_strUser = rig.settings.m_strDbUser;
        db.m_strPassword = rig.settings.m_strDbPassword;
        db.ExecuteSql(sql);
        db.CloseDatabase();
    };
    admin("drop table if exists smsin");
    admin("create table if not exists smsout(msgid serial primary key, phone text, msgbody text, status int default 0)");
    admin("create table smsin(phone text, msgbody text check (msgbody not like 'refused%'), rectime timestamp, "
          "unique(phone, rectime, msgbody))");
    rig.Passes(1);
    rig.sim.Control("DELIVER from=+491 via=store mem=SM text=refused stored");
    rig.sim.Control("DELIVER from=+491 via=direct text=refused direct");
    rig.sim.Control("DELIVER from=+491 via=store mem=SM text=accepted");
    EXPECT_TRUE(PassUntil(rig, [&] { return InboxCounts(rig).count("accepted") == 1; }));
    rig.Passes(3);
    EXPECT_EQ((std::map<std::string, int>{{"accepted", 1}}), InboxCounts(rig));
    EXPECT_NE(std::string::npos, rig.sim.Control("LIST SM").find("\"index\":1"));
    EXPECT_EQ(1u, rig.gateway->Spool().Entries().size());
    admin("alter table smsin drop constraint smsin_msgbody_check");
    ExpectExactlyOnce(rig, {"accepted", "refused stored", "refused direct"});
    rig.db.CloseDatabase();
}

TEST(GatewayInbound, ABurstOfIndicationsIsStoredInOnePassAndSilentOnesByTheStoreCheck) {
    GatewayRig rig;
    rig.Passes(1);
    for (int i = 0; i < 12; ++i)
        rig.sim.Control("DELIVER from=+49170" + std::to_string(i) + " via=store text=burst " + std::to_string(i));
    rig.sim.Control("DELIVER from=+4918 via=silent text=without indication");  // in the receive store
    rig.Passes(1);
    EXPECT_EQ(12u, rig.Rows("select msgbody from smsin where msgbody like 'burst %'", {"msgbody"}).size());
    rig.Passes(5);  // up to the store check
    EXPECT_EQ(13u, rig.Rows("select msgbody from smsin", {"msgbody"}).size());
    EXPECT_EQ("OK", rig.sim.Control("LIST").substr(0, 2));  // nothing left in the modem
}

// Messages the inbox refuses for their content never hold up the others: thirty 8-bit
// messages with a NUL are stored (the NUL as U+FFFD) among thirty ordinary ones, and a text
// breaking a CHECK constraint goes to the reject table after three tries over a minute,
// stored or direct, with the database's reason. The SIM is empty at the end.
void PoisonMessagesAreRejected(GatewayRig& rig, const std::string& reason) {
    rig.Passes(1);
    std::map<std::string, int> expected;
    rig.sim.Control("DELIVER from=+499 via=store mem=ME text=refused stored");
    rig.sim.Control("DELIVER from=+499 via=direct text=refused direct");
    for (int i = 10; i < 40; ++i) {
        const std::string n = std::to_string(i);
        rig.sim.Control("DELIVER from=+49" + n + " via=store mem=ME text=plain " + n);
        // "N" NUL "N" as 8-bit octets
        rig.sim.Control("DELIVER from=+48" + n + " via=store mem=ME dcs=8bit hex=" + HexOf(n) + "00" + HexOf(n));
        expected["plain " + n] = 1;
        expected[n + "\uFFFD" + n] = 1;
    }
    EXPECT_TRUE(PassUntil(rig, [&] { return InboxCounts(rig) == expected; })) << testing::PrintToString(InboxCounts(rig));
    for (int i = 0; i < 3 && !ModemEmpty(rig); ++i) {
        rig.clock.now += 31 * 1000;
        rig.Passes(12);
    }
    EXPECT_TRUE(PassUntil(rig, [&] { return ModemEmpty(rig) && rig.gateway->Spool().Empty(); })) << rig.sim.Control("LIST");
    EXPECT_EQ(expected, InboxCounts(rig));
    const auto rejected = StateRows(rig.StatePath(), "select store, text, reason like '%" + reason +
                                                         "%' from rejected order by text");
    EXPECT_EQ((std::vector<std::string>{"inbox|refused direct|1", "inbox|refused stored|1"}), rejected);
}

TEST(GatewayInbound, PoisonMessagesAreRejectedAfterTheirTriesAndNeverHoldUpTheRest) {
    GatewayRig rig;
    rig.Sql("drop table smsin");
    rig.Sql("create table smsin(phone TEXT, msgbody TEXT check (msgbody not like 'refused%'), rectime TIMESTAMP, "
            "UNIQUE(phone, rectime, msgbody))");
    PoisonMessagesAreRejected(rig, "CHECK constraint failed");
}

TEST(GatewayInboundPg, PoisonMessagesAreRejectedAfterTheirTriesAndNeverHoldUpTheRest) {
    GatewayRig rig;
    if (!rig.UsePostgres()) GTEST_SKIP() << "no PostgreSQL server: run the tests through ctest";
    rig.Admin("alter table smsin add constraint refused check (msgbody not like 'refused%')");
    PoisonMessagesAreRejected(rig, "23514");
}
