// The gateway binary on its state folder: one gateway per folder, a folder it can trust,
// a store it checks, the files of earlier versions taken over, and rows killed on their
// way to the modem.
#include "GatewayProcess.h"
#include "GatewayRig.h"
#include "state/StateFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ctime>
#include <fstream>
#include <set>
#include <sys/stat.h>

#ifdef PELLWICK_BINARY

namespace {

std::vector<std::string> Statuses(GatewayRig& rig) {
    return rig.Rows("select msgid, status from smsout order by msgid", {"msgid", "status"});
}

std::string Stderr(GatewayRig& rig) { return FileText(rig.dir.file("stderr.txt")); }

}  // namespace

// A second gateway started on the folder of a running one leaves at once and touches
// nothing: every row goes out once, none gets -2.
TEST(GatewayStateFolder, SecondGatewayOnTheSameFolderIsRefused) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    std::vector<std::string> expected;
    for (int id = 1; id <= 30; ++id) {
        rig.Sql("insert into smsout(msgid, phone, msgbody) values(" + std::to_string(id) + ", '+491', 'row " +
                std::to_string(id) + "')");
        expected.push_back(std::to_string(id) + "|1");
    }
    rig.sim.Control("FAULT SLOW 100");  // the first one is still sending when the second one comes
    const pid_t first = StartGatewayProcess(rig.dir.path());
    ASSERT_TRUE(WaitFor([&] { return !rig.sim.Submitted().empty(); }, 120)) << Stderr(rig);
    const pid_t second = StartGatewayProcess(rig.dir.path());
    EXPECT_EQ(1, WaitForExit(second, 60));
    EXPECT_NE(std::string::npos,
              Stderr(rig).find("another gateway (PID " + std::to_string(first) + ") is running on " + rig.dir.path()))
        << Stderr(rig);
    rig.sim.Control("FAULT CLEAR");
    EXPECT_TRUE(WaitFor([&] { return Statuses(rig) == expected; }, 180)) << testing::PrintToString(Statuses(rig));
    EndProcess(first, SIGTERM);
    std::multiset<std::string> texts;
    for (const CSmsPdu& pdu : rig.Submitted()) texts.insert(pdu.m_strText);
    EXPECT_EQ(30u, texts.size());
    EXPECT_EQ(30u, std::set<std::string>(texts.begin(), texts.end()).size());
}

// A folder others may write, or a link at any name the gateway writes: refused before the
// modem or any file is touched, by the gateway and by -set.
TEST(GatewayStateFolder, UnsafeFolderAndPlantedLinksAreRefusedAndLeftUntouched) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'never')");

    ASSERT_EQ(0, ::chmod(rig.dir.path().c_str(), 0770));
    EXPECT_EQ(1, WaitForExit(StartGatewayProcess(rig.dir.path()), 60));
    EXPECT_EQ(2, WaitForExit(StartGatewayProcess(rig.dir.path(), {"-set", "retry_count=2"}), 60));
    EXPECT_NE(std::string::npos, Stderr(rig).find("is writable by its group")) << Stderr(rig);
    EXPECT_NE(std::string::npos, Stderr(rig).find("; nothing saved")) << Stderr(rig);
    ASSERT_EQ(0, ::chmod(rig.dir.path().c_str(), 0700));

    TempDir elsewhere;
    const std::string victim = elsewhere.file("victim");
    std::ofstream(victim) << "not the gateway's";
    ASSERT_EQ(0, ::chmod(victim.c_str(), 0644));
    for (const std::string& name : StateFileNames()) {
        SCOPED_TRACE(name);
        const std::string link = rig.dir.file(name);
        std::filesystem::remove(link);
        std::filesystem::create_symlink(victim, link);
        EXPECT_EQ(1, WaitForExit(StartGatewayProcess(rig.dir.path()), 60));
        EXPECT_NE(std::string::npos, Stderr(rig).find("symbolic link")) << Stderr(rig);
        std::filesystem::remove(link);
        EXPECT_EQ("not the gateway's", FileText(victim));
        EXPECT_EQ(std::filesystem::perms(0644), std::filesystem::status(victim).permissions());
    }
    EXPECT_TRUE(rig.sim.Records().empty());  // the modem never heard of it
    EXPECT_EQ(std::vector<std::string>{"1|0"}, Statuses(rig));
}

// A damaged store stops the start with a message naming it; nothing is sent.
TEST(GatewayStateFolder, DamagedStateStoreStopsTheStart) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    rig.state.PutJournal({"1", JournalState::Result, 1});
    rig.state.Close();
    {
        std::fstream file(rig.StatePath(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096);  // the second page: a table's root
        file << std::string(3000, '\xA5');
    }
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'never')");
    EXPECT_EQ(1, WaitForExit(StartGatewayProcess(rig.dir.path()), 60));
    EXPECT_NE(std::string::npos, Stderr(rig).find(rig.StatePath() + " is damaged")) << Stderr(rig);
    EXPECT_TRUE(rig.sim.Records().empty());
    EXPECT_EQ(std::vector<std::string>{"1|0"}, Statuses(rig));
}

// The state files of the previous version are taken over once: a row journalled as sending
// gets -2 once, a spooled message reaches the inbox once, a waiting part and a reference stay.
TEST(GatewayStateFolder, StateFilesOfThePreviousVersionAreImportedOnce) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'was in flight')");
    std::ofstream(rig.dir.file("Pellwick.journal")) << "sending 1\n";
    std::ofstream(rig.dir.file("Pellwick.spool")) << "1765099801 2B343932 323631323037303933313030 73706F6F6C6564\n";
    const std::string now = std::to_string(std::time(nullptr) * 1000LL);
    std::ofstream(rig.dir.file("Pellwick.parts")) << "17 3 1 " << now << " 323631323037303933303030 2B343931 4142\n";
    std::ofstream(rig.dir.file("Pellwick.references")) << "5 " << now << " 37 2B343931\n";
    for (int run = 0; run < 2; ++run) {
        const pid_t gateway = StartGatewayProcess(rig.dir.path());
        EXPECT_TRUE(WaitFor([&] {
            return Statuses(rig) == std::vector<std::string>{"1|-2"} &&
                   rig.Rows("select msgbody from smsin", {"msgbody"}) == std::vector<std::string>{"spooled"};
        }, 120)) << Stderr(rig);
        EndProcess(gateway, SIGTERM);
    }
    for (const char* name : {"Pellwick.journal", "Pellwick.spool", "Pellwick.parts", "Pellwick.references"}) {
        EXPECT_FALSE(std::filesystem::exists(rig.dir.file(name))) << name;
        EXPECT_TRUE(std::filesystem::exists(rig.dir.file(std::string(name) + ".imported"))) << name;
    }
    EXPECT_EQ(std::vector<std::string>{"+491|17|1|AB"},
              StateRows(rig.StatePath(), "select phone, reference, number, text from message_parts"));
    EXPECT_EQ(std::vector<std::string>{"5|7"}, StateRows(rig.StatePath(), "select reference, msgid from submissions"));
    const std::string log = FileText(rig.dir.file("Pellwick.log"));
    EXPECT_EQ(log.find("was being sent when the gateway stopped"), log.rfind("was being sent when the gateway stopped"));
    EXPECT_TRUE(rig.sim.Submitted().empty());
}

// Killed while waiting for the prompt, the row never reached the modem: sent once after
// the restart, not written as unknown.
TEST(GatewayStateFolder, KilledWhilePromptingIsSentOnceAfterTheRestart) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'after the prompt')");
    rig.sim.Control("FAULT CMGS 1 noprompt");
    pid_t gateway = StartGatewayProcess(rig.dir.path());
    const bool prompting = WaitFor([&] {
        return StateRows(rig.StatePath(), "select msgid, state from outbound_journal") ==
               std::vector<std::string>{"1|prompting"};
    }, 120);
    EndProcess(gateway, SIGKILL);
    ASSERT_TRUE(prompting) << Stderr(rig);

    gateway = StartGatewayProcess(rig.dir.path());
    EXPECT_TRUE(WaitFor([&] { return Statuses(rig) == std::vector<std::string>{"1|1"}; }, 120)) << Stderr(rig);
    EndProcess(gateway, SIGTERM);
    int accepted = 0;
    for (const std::string& record : rig.sim.Submitted()) accepted += record.find("\"result\":\"ok\"") != std::string::npos;
    EXPECT_EQ(1, accepted);
}

// A direct message that arrives during an outbox burst is durable before the burst ends:
// killed right after, the gateway has it once in the inbox after its restart.
TEST(GatewayStateFolder, DirectMessageDuringABurstSurvivesAKill) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    for (int id = 1; id <= 40; ++id)
        rig.Sql("insert into smsout(msgid, phone, msgbody) values(" + std::to_string(id) + ", '+491', 'burst')");
    rig.sim.Control("FAULT SLOW 300");
    pid_t gateway = StartGatewayProcess(rig.dir.path());
    ASSERT_TRUE(WaitFor([&] { return rig.sim.Submitted().size() >= 5; }, 120)) << Stderr(rig);
    rig.sim.Control("DELIVER from=+4917055555 via=direct text=during the burst");
    auto held = [&] {
        return !StateRows(rig.StatePath(), "select id from waiting_messages").empty() ||
               !rig.Rows("select msgbody from smsin", {"msgbody"}).empty();
    };
    const bool durable = WaitFor(held, 120);
    const size_t submitted = rig.sim.Submitted().size();
    EndProcess(gateway, SIGKILL);
    ASSERT_TRUE(durable);
    EXPECT_LT(submitted, 40u);  // before the burst ended

    rig.sim.Control("FAULT CLEAR");
    gateway = StartGatewayProcess(rig.dir.path());
    EXPECT_TRUE(WaitFor([&] {
        return rig.Rows("select msgbody from smsin", {"msgbody"}) == std::vector<std::string>{"during the burst"};
    }, 120)) << Stderr(rig);
    EndProcess(gateway, SIGTERM);
}

#endif
