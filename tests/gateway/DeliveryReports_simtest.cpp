// Delivery reports over the simulator: outbox rows sent with report_sql set learn from the
// status reports (direct and stored, one after the message reference wrapped) whether they
// were delivered.
#include "GatewayRig.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

bool PassUntil(GatewayRig& rig, const std::function<bool()>& done, int limit = 200) {
    for (int i = 0; i < limit && !done(); ++i) rig.Passes(1);
    return done();
}

// Whether a submitted PDU (without service-centre part, as the record shows it) asks for a report.
bool AsksForReport(const std::string& recordLine) {
    const size_t at = recordLine.find("\"pdu\":\"") + 7;
    const int scLength = std::stoi(recordLine.substr(at, 2), nullptr, 16);
    const int first = std::stoi(recordLine.substr(at + 2 + 2 * static_cast<size_t>(scLength), 2), nullptr, 16);
    return (first & 0x20) != 0;
}

void OutboxRowsLearnTheirDelivery(GatewayRig& rig) {
    rig.settings.m_strReportSql = "update smsout set delivered=<STATUS>, deliverytime='<TIME>' where msgid=<MSGID>";
    rig.sim.Control("SET mr 254");
    struct Row {
        const char* phone;
        const char* report;  // REPORT options
        const char* delivered;
    };
    const Row rows[] = {
        {"+4917011111", "status=0 via=direct dt=261207100000+04", "1|2026-12-07 10:00:00"},
        {"+4917022222", "status=32 via=store mem=SM dt=261207100100+04", "0|2026-12-07 10:01:00"},
        {"+4917033333", "status=65 via=direct dt=261207100200+04", "-1|2026-12-07 10:02:00"},
    };
    for (int i = 0; i < 3; ++i)
        rig.Admin("insert into smsout(msgid, phone, msgbody) values(" + std::to_string(41 + i) + ", '" + rows[i].phone +
                "', 'row " + std::to_string(i) + "')");
    ASSERT_TRUE(PassUntil(rig, [&] { return rig.sim.Submitted().size() == 3; }));
    for (const std::string& line : rig.sim.Submitted()) EXPECT_TRUE(AsksForReport(line)) << line;
    EXPECT_EQ(3u, rig.gateway->Reports().Size());

    // The references were 254, 255 and 0; one more report names no submission of ours.
    const int references[] = {254, 255, 0};
    for (int i = 0; i < 3; ++i)
        rig.sim.Control("REPORT mr=" + std::to_string(references[i]) + " to=" + rows[i].phone + " " + rows[i].report);
    rig.sim.Control("REPORT mr=77 to=+4917000000 via=store mem=SM");
    const std::vector<std::string> expected = {rows[0].delivered, rows[1].delivered, rows[2].delivered};
    auto delivered = [&] {
        return rig.Rows("select delivered, deliverytime from smsout order by msgid", {"delivered", "deliverytime"});
    };
    EXPECT_TRUE(PassUntil(rig, [&] { return delivered() == expected && rig.sim.Control("LIST") == "OK\n"; }))
        << testing::PrintToString(delivered()) << rig.sim.Control("LIST");
    // Only the row whose report was temporary still waits for its final one.
    EXPECT_EQ(1u, rig.gateway->Reports().Size());

    // The gateway's own replies ask for no report.
    rig.sim.Control("RECORD CLEAR");
    rig.sim.Control("DELIVER from=+4917044444 via=direct text=<STATUS>");
    ASSERT_TRUE(PassUntil(rig, [&] { return rig.sim.Submitted().size() == 1; }));
    EXPECT_FALSE(AsksForReport(rig.sim.Submitted().at(0)));
}

}  // namespace

TEST(GatewayReports, OutboxRowsLearnTheirDeliveryFromStatusReports) {
    GatewayRig rig;
    rig.Admin("alter table smsout add column delivered INTEGER");
    rig.Admin("alter table smsout add column deliverytime TEXT");
    OutboxRowsLearnTheirDelivery(rig);
}

TEST(GatewayReportsPg, OutboxRowsLearnTheirDeliveryFromStatusReports) {
    GatewayRig rig;
    if (!rig.UsePostgres(", delivered int, deliverytime text")) GTEST_SKIP() << "no PostgreSQL server: run the tests through ctest";
    OutboxRowsLearnTheirDelivery(rig);
}

// A report delivered directly while the database is away waits in the state store, also
// across a restart, and is applied once when the database is back.
TEST(GatewayReports, DirectReportDuringAnOutageIsAppliedOnceAfterARestart) {
    GatewayRig rig;
    rig.Admin("alter table smsout add column delivered INTEGER");
    rig.Admin("alter table smsout add column deliverytime TEXT");
    rig.settings.m_strReportSql = "update smsout set delivered=<STATUS>, deliverytime='<TIME>' where msgid=<MSGID>";
    rig.sim.Control("SET mr 9");
    rig.Admin("insert into smsout(msgid, phone, msgbody) values(1, '+4917011111', 'reported')");
    ASSERT_TRUE(PassUntil(rig, [&] { return rig.sim.Submitted().size() == 1; }));
    rig.Admin("alter table smsout rename to smsout_away");
    rig.sim.Control("REPORT mr=9 to=+4917011111 status=0 via=direct dt=261207100000+04");
    ASSERT_TRUE(PassUntil(rig, [&] { return !StateRows(rig.StatePath(), "select id from waiting_reports").empty(); }));
    rig.Restart();
    rig.Admin("alter table smsout_away rename to smsout");
    EXPECT_TRUE(PassUntil(rig, [&] {
        return rig.Rows("select delivered from smsout", {"delivered"}) == std::vector<std::string>{"1"};
    }));
    EXPECT_TRUE(StateRows(rig.StatePath(), "select id from waiting_reports").empty());
    EXPECT_EQ(0u, rig.gateway->Reports().Size());
}
