// Direct deliveries over the simulator: indications after the link was opened again, and
// acknowledgements (AT+CSMS=1) given only once a message is kept, so that the network
// delivers again what a gateway lost before that.
#include "GatewayProcess.h"
#include "GatewayRig.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <iostream>
#include <map>

namespace {

int Records(GatewayRig& rig, const std::string& what) {
    const auto records = rig.sim.Records();
    return static_cast<int>(std::count_if(records.begin(), records.end(),
                                          [&](const std::string& r) { return r.find(what) != std::string::npos; }));
}
const char* const ACKED = "\"kind\":\"ack\",\"result\":\"ok\"";
const char* const ACK_MISSED = "\"kind\":\"ack\",\"result\":\"timeout\"";

std::string State(GatewayRig& rig, const std::string& key) {
    for (const std::string& line : ModemSim::Lines(rig.sim.Control("STATE")))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "?";
}

std::map<std::string, int> InboxCounts(GatewayRig& rig) {
    std::map<std::string, int> counts;
    for (const std::string& text : rig.Rows("select msgbody from smsin", {"msgbody"})) ++counts[text];
    return counts;
}

std::map<std::string, int> Once(const std::vector<std::string>& texts) {
    std::map<std::string, int> counts;
    for (const auto& t : texts) counts[t] = 1;
    return counts;
}

bool PassUntil(GatewayRig& rig, const std::function<bool()>& done, int limit = 300) {
    for (int i = 0; i < limit && !done(); ++i) rig.Passes(1);
    return done();
}

// An exclusive lock on the gateway's state store: every write to it waits, then fails.

}  // namespace

// A +CMT before the link is opened again, then a +CMT, a +CDS (report_sql set) and a +CMTI
// after it: each message once in the inbox, each direct delivery acknowledged in time
// (phase 2+), or without any acknowledgement on a modem that offers phase 2 only.
TEST(GatewayAcknowledge, IndicationsAfterTheLinkWasReopenedAreAllTaken) {
    struct Case {
        const char* name;
        bool phase2Plus;
        std::function<void(GatewayRig&)> reopen;
    };
    const auto silence = [](GatewayRig& rig) {
        rig.sim.Control("FAULT SILENT 3");  // the three probes of the device check
        rig.gateway->RefreshDeviceInfo();
        ASSERT_EQ(0, rig.run.m_bDeviceLinked.load());
    };
    const auto pause = [](GatewayRig& rig) {
        rig.run.m_bRunning = 0;
        rig.Passes(1);
        ASSERT_EQ(0, rig.run.m_bDeviceLinked.load());
        rig.run.m_bRunning = 1;
    };
    const Case cases[] = {
        {"silent modem", true, silence},
        {"port closed and opened", true, pause},
        {"silent modem, phase 2 only", false, silence},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GatewayRig rig;
        rig.settings.m_strReportSql = "update smsout set status=<STATUS> where msgid=<MSGID>";
        if (!c.phase2Plus) rig.sim.Control("SET phase2plus 0");
        rig.Passes(1);
        rig.sim.Control("DELIVER from=+491 via=direct text=before");
        ASSERT_TRUE(PassUntil(rig, [&] { return InboxCounts(rig) == Once({"before"}); }));
        c.reopen(rig);
        ASSERT_TRUE(PassUntil(rig, [&] { return rig.run.m_bDeviceLinked == 1; }));

        rig.sim.Control("DELIVER from=+492 via=direct text=after 1");
        rig.sim.Control("REPORT mr=7 via=direct");
        rig.sim.Control("DELIVER from=+493 via=store mem=SM text=stored");
        rig.sim.Control("DELIVER from=+494 via=direct text=after 2");
        const auto expected = Once({"before", "after 1", "stored", "after 2"});
        const int direct = c.phase2Plus ? 4 : 0;
        EXPECT_TRUE(PassUntil(rig, [&] {
            return InboxCounts(rig) == expected && Records(rig, ACKED) == direct && rig.sim.Control("LIST") == "OK\n";
        })) << testing::PrintToString(InboxCounts(rig));
        EXPECT_EQ(0, Records(rig, ACK_MISSED));
        EXPECT_EQ(c.phase2Plus ? direct : 0, Records(rig, "\"text\":\"AT+CNMA\""));
        EXPECT_EQ(c.phase2Plus ? "1" : "0", State(rig, "csms"));
    }
}

// A message the state store cannot take is not acknowledged: the modem turns routing off,
// the gateway sets it again at its next device check, and the network's second delivery
// comes in through the store. The inbox holds the message once.
TEST(GatewayAcknowledge, MissedAcknowledgementRoutingIsSetAgain) {
    GatewayRig rig;
    rig.sim.Control("SET ackwait 7000");  // longer than the store's wait for its lock
    rig.sim.Control("SET retrywait 1000");
    rig.Passes(1);
    const std::string routing = State(rig, "cnmi");
    {
        SqliteLock lock(rig.StatePath());
        rig.sim.Control("DELIVER from=+491 via=direct text=unkept");
        rig.Passes(2);  // the spool waits for the lock, then gives up
    }
    ASSERT_TRUE(PassUntil(rig, [&] { return Records(rig, ACK_MISSED) == 1; }));
    EXPECT_EQ(0, Records(rig, ACKED));
    EXPECT_TRUE(PassUntil(rig, [&] {
        return InboxCounts(rig) == Once({"unkept"}) && State(rig, "cnmi") == routing && State(rig, "retries") == "0" &&
               rig.sim.Control("LIST") == "OK\n";
    })) << testing::PrintToString(InboxCounts(rig)) << State(rig, "cnmi");
    EXPECT_GE(Records(rig, "\"text\":\"AT+CNMI?\""), 1);
    EXPECT_EQ(1, Records(rig, "\"kind\":\"unsolicited\",\"text\":\"+CMT: "));
}

// A state store that cannot be written (locked here; a full disk alike) on a modem without
// acknowledgements: the direct message in hand waits in memory and the modem keeps new ones
// in its stores, from where they reach the inbox; once the store takes writes again, the
// message in memory is written and direct delivery comes back.
TEST(GatewayAcknowledge, UnwritableStateStoreSendsNewMessagesToTheStores) {
    GatewayRig rig;
    rig.sim.Control("SET phase2plus 0");
    ASSERT_TRUE(PassUntil(rig, [&] { return rig.run.m_bDeviceLinked == 1; }));
    const std::string routing = State(rig, "cnmi");
    {
        SqliteLock lock(rig.StatePath());
        rig.sim.Control("DELIVER from=+491 via=direct text=while locked");
        ASSERT_TRUE(PassUntil(rig, [&] { return State(rig, "cnmi") != routing; }, 20));
        EXPECT_EQ('1', State(rig, "cnmi").at(2));  // stored and announced
        rig.sim.Control("DELIVER from=+492 via=auto text=kept by the modem");
        EXPECT_TRUE(PassUntil(rig, [&] { return InboxCounts(rig) == Once({"while locked", "kept by the modem"}); }, 20))
            << testing::PrintToString(InboxCounts(rig));
    }
    ASSERT_TRUE(PassUntil(rig, [&] { return State(rig, "cnmi") == routing; }, 20));
    rig.sim.Control("DELIVER from=+493 via=direct text=direct again");
    EXPECT_TRUE(PassUntil(rig, [&] {
        return InboxCounts(rig) == Once({"while locked", "kept by the modem", "direct again"}) &&
               rig.sim.Control("LIST") == "OK\n";
    }));
    EXPECT_EQ(2, Records(rig, "\"text\":\"+CMT: "));  // the first and the last came directly
}

#ifdef PELLWICK_BINARY

// The gateway binary killed (SIGKILL) after it read a +CMT and before it could keep it (its
// state store locked): it never acknowledged it, so the network delivers it again and the
// restarted gateway stores it once. Prints the time from a delivery to its acknowledgement.
TEST(GatewayAcknowledge, KilledBeforeTheAcknowledgementGetsTheMessageAgain) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    rig.sim.Control("SET ackwait 2000");
    rig.sim.Control("SET retrywait 2000");
    const std::string stderrPath = rig.dir.file("stderr.txt");

    pid_t gateway = StartGatewayProcess(rig.dir.path());
    // Linked and past the first full scan of the stores.
    ASSERT_TRUE(WaitFor([&] { return Records(rig, "\"AT+CPMS=\\\"MT\\\"\"") > 0; }, 120)) << FileText(stderrPath);
    rig.sim.Control("DELIVER from=+490 via=direct text=kept");
    ASSERT_TRUE(WaitFor([&] { return InboxCounts(rig) == Once({"kept"}) && Records(rig, ACKED) == 1; }, 60));
    {
        SqliteLock lock(rig.dir.file(CStateStore::FILE_NAME));
        rig.sim.Control("DELIVER from=+491 via=direct text=killed before the ack");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // read, waiting for the lock
        EndProcess(gateway, SIGKILL);
    }
    EXPECT_EQ(1, Records(rig, ACKED));
    ASSERT_TRUE(WaitFor([&] { return Records(rig, ACK_MISSED) == 1; }, 10));

    gateway = StartGatewayProcess(rig.dir.path());
    const auto expected = Once({"kept", "killed before the ack"});
    EXPECT_TRUE(WaitFor([&] { return InboxCounts(rig) == expected && rig.sim.Control("LIST") == "OK\n"; }, 120))
        << testing::PrintToString(InboxCounts(rig)) << FileText(stderrPath);
    std::this_thread::sleep_for(std::chrono::seconds(3));  // nothing comes twice
    EXPECT_EQ(expected, InboxCounts(rig));
    EXPECT_EQ("0", State(rig, "retries"));

    // From the first delivery to its acknowledgement, as the simulator recorded both.
    auto time = [&](const std::string& what) {
        for (const std::string& r : rig.sim.Records())
            if (r.find(what) != std::string::npos) return std::stoll(r.substr(r.find("\"t\":") + 4));
        return 0LL;
    };
    std::cout << "delivery to acknowledgement: " << time(ACKED) - time("\"text\":\"+CMT: ") << " ms\n";
    EndProcess(gateway, SIGTERM);
}

// A direct message 0 to 30 ms before a kill, again and again: each is in the inbox once in
// the end, kept before the kill or delivered again after it.
TEST(GatewayAcknowledge, DirectMessagesJustBeforeKillsAreNeitherLostNorDoubled) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    rig.sim.Control("SET ackwait 1000");
    rig.sim.Control("SET retrywait 1000");
    std::vector<std::string> texts;
    pid_t gateway = StartGatewayProcess(rig.dir.path());
    for (int round = 0; round < 8; ++round) {
        ASSERT_TRUE(WaitFor([&] { return Records(rig, "\"AT+CNMI=") > round; }, 120)) << round;
        texts.push_back("round " + std::to_string(round));
        rig.sim.Control("DELIVER from=+49" + std::to_string(round) + " via=direct text=" + texts.back());
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 4));
        EndProcess(gateway, SIGKILL);
        gateway = StartGatewayProcess(rig.dir.path());
    }
    const auto expected = Once(texts);
    EXPECT_TRUE(WaitFor([&] { return InboxCounts(rig) == expected && rig.sim.Control("LIST") == "OK\n"; }, 180))
        << testing::PrintToString(InboxCounts(rig));
    EndProcess(gateway, SIGTERM);
}

// Direct messages while the database file is locked (each insert waits out its busy time):
// killed meanwhile, the gateway has each once in the inbox after its restart.
TEST(GatewayAcknowledge, DirectMessagesWhileTheDatabaseIsLockedSurviveAKill) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    rig.sim.Control("SET ackwait 2000");
    rig.sim.Control("SET retrywait 2000");
    pid_t gateway = StartGatewayProcess(rig.dir.path());
    ASSERT_TRUE(WaitFor([&] { return Records(rig, "\"AT+CPMS=\\\"MT\\\"\"") > 0; }, 120));
    {
        SqliteLock lock(TestDatabaseFile());
        rig.sim.Control("DELIVER from=+491 via=direct text=first while locked");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        rig.sim.Control("DELIVER from=+492 via=direct text=second while locked");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EndProcess(gateway, SIGKILL);
    }
    gateway = StartGatewayProcess(rig.dir.path());
    const auto expected = Once({"first while locked", "second while locked"});
    EXPECT_TRUE(WaitFor([&] { return InboxCounts(rig) == expected && rig.sim.Control("LIST") == "OK\n"; }, 120))
        << testing::PrintToString(InboxCounts(rig));
    EndProcess(gateway, SIGTERM);
}

#endif
