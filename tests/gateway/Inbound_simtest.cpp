#include "GatewayRig.h"

#include <gtest/gtest.h>

#include <algorithm>

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
    rig.Passes(1);  // tick 2 reconnects and polls; the store scan collects it at tick 60
    for (int i = 0; i < 60 && rig.Rows("select msgbody from smsin", {"msgbody"}).empty(); ++i) rig.Passes(1);
    EXPECT_EQ((std::vector<std::string>{"waiting"}), rig.Rows("select msgbody from smsin", {"msgbody"}));
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
