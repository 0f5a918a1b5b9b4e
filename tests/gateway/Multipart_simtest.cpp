// Concatenated messages over the simulator: parts in any order and repeated (also after
// their message was stored), stored and direct, across a restart, with a missing part, and
// with joining switched off.
#include "GatewayRig.h"
#include "support/JournalCapture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

namespace {

std::map<std::string, int> InboxCounts(GatewayRig& rig) {
    std::map<std::string, int> counts;
    for (const auto& row : rig.Rows("select phone, msgbody, rectime from smsin", {"phone", "msgbody", "rectime"}))
        ++counts[row];
    return counts;
}

bool PassUntil(GatewayRig& rig, const std::function<bool()>& done, int limit = 200) {
    for (int i = 0; i < limit && !done(); ++i) rig.Passes(1);
    return done();
}

void PartsInAnyOrderBecomeOneRowEach(GatewayRig& rig) {
    JournalCapture journal(rig.dir.file("log.sock"));
    rig.Passes(1);
    const std::string seven = "0123456789ABCDEFGHIJabcdefghijKLMNOPQRSTklmnopqrst";  // 5 parts of 10
    const std::string ucs2 = "\u03A9\u03BC\u03AD\u03B3\u03B1\u0394\u03A6\u0393\u65E5\u672C\u8A9E"
                             "\u30C6\u30AD\u30B9\u30C8";  // 3 parts of 5
    struct Delivery {
        std::string options;
        const char* before;  // parts sent before the restart
        const char* after;   // and after it
    };
    const Delivery deliveries[] = {
        {"from=+4917011111 via=store ref=17 partlen=10 ts=261207093000+04 text=" + seven, "3,5,1", "2,2,4"},
        {"from=+4917022222 via=direct refbits=16 ref=300 partlen=5 ts=261207093100+04 text=" + ucs2, "2,3", "1,3"},
        {"from=+4917033333 via=store mem=SM ref=5 partlen=6 ts=261207093200+04 text=AAAAAABBBBBBCCCCCC", "3", "1"},
    };
    for (const Delivery& d : deliveries) rig.sim.Control("DELIVER order=" + std::string(d.before) + " " + d.options);
    ASSERT_TRUE(PassUntil(rig, [&] { return rig.gateway->Parts().Size() == 6; })) << rig.gateway->Parts().Size();
    EXPECT_TRUE(InboxCounts(rig).empty());

    // The gateway restarts: the parts come back from the state store alone.
    rig.gateway->SetStateStore(nullptr);
    rig.Restart();
    ASSERT_EQ(6u, rig.gateway->Parts().Size());
    for (const Delivery& d : deliveries) rig.sim.Control("DELIVER order=" + std::string(d.after) + " " + d.options);

    const std::map<std::string, int> whole = {
        {"+4917011111|" + seven + "|2026-12-07 09:30:00", 1},
        {"+4917022222|" + ucs2 + "|2026-12-07 09:31:00", 1},
    };
    EXPECT_TRUE(PassUntil(rig, [&] { return InboxCounts(rig) == whole && rig.sim.Control("LIST") == "OK\n"; }))
        << testing::PrintToString(InboxCounts(rig)) << rig.sim.Control("LIST");
    EXPECT_EQ(2u, rig.gateway->Parts().Size());

    // Part 2 of the third message never comes: after the timeout it is stored without it.
    rig.clock.now += 9 * 60 * 1000;
    rig.Passes(2);
    EXPECT_EQ(2u, InboxCounts(rig).size());
    rig.clock.now += 2 * 60 * 1000;
    std::map<std::string, int> all = whole;
    all["+4917033333|AAAAAA[...]CCCCCC|2026-12-07 09:32:00"] = 1;
    EXPECT_TRUE(PassUntil(rig, [&] { return InboxCounts(rig) == all; })) << testing::PrintToString(InboxCounts(rig));
    EXPECT_EQ(0u, rig.gateway->Parts().Size());
    journal.Lines("without part");
    EXPECT_TRUE(journal.Has("message from +4917033333 (reference 5) stored without part(s) 2 of 3 after 10 minutes"));

    // Switched off: one row per part, as they come.
    rig.settings.m_bMultipartJoin = 0;
    rig.sim.Control("DELIVER from=+4917044444 via=store ref=6 partlen=6 ts=261207093300+04 order=2,1 text=XXXXXXYYYYYY");
    all["+4917044444|XXXXXX|2026-12-07 09:33:00"] = 1;
    all["+4917044444|YYYYYY|2026-12-07 09:33:00"] = 1;
    EXPECT_TRUE(PassUntil(rig, [&] { return InboxCounts(rig) == all; })) << testing::PrintToString(InboxCounts(rig));
}

}  // namespace

TEST(GatewayMultipart, PartsInAnyOrderBecomeOneRowEachAcrossARestart) {
    GatewayRig rig;
    PartsInAnyOrderBecomeOneRowEach(rig);
}

TEST(GatewayMultipartPg, PartsInAnyOrderBecomeOneRowEachAcrossARestart) {
    GatewayRig rig;
    if (!rig.UsePostgres()) GTEST_SKIP() << "no PostgreSQL server: run the tests through ctest";
    PartsInAnyOrderBecomeOneRowEach(rig);
}
