// A message or report delivered directly is acknowledged to the modem once it is kept, and
// only then.
#include "EngineHarness.h"
#include "modem/Mobile.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace {

struct AckCase {
    const char* name;
    int poll;
    std::function<void(EngineHarness&, TempDirState&)> setup;
    int acks;
};
void PrintTo(const AckCase& c, std::ostream* os) { *os << c.name; }

void Direct(EngineHarness& h, TempDirState& state) {
    h.gateway.SetStateStore(&state.store);
    h.modem.received = {"+4917", "direct", "261207093000", 1};
}

class AcknowledgeTest : public ::testing::TestWithParam<AckCase> {};

TEST_P(AcknowledgeTest, OnlyWhatIsKept) {
    EngineHarness h;
    TempDirState state;
    h.LinksUp();
    h.modem.polls = {GetParam().poll};
    GetParam().setup(h, state);
    h.gateway.TakeIndications();
    EXPECT_EQ(GetParam().acks, h.modem.acks);
}

INSTANTIATE_TEST_SUITE_P(
    Deliveries, AcknowledgeTest,
    ::testing::Values(
        AckCase{"MessageSpooled", POLL_NEW_MESSAGE, Direct, 1},
        AckCase{"MessageStateStoreGone", POLL_NEW_MESSAGE,
                [](EngineHarness& h, TempDirState& state) {
                    Direct(h, state);
                    state.store.Close();  // every write fails
                },
                0},
        AckCase{"PartKept", POLL_NEW_MESSAGE,
                [](EngineHarness& h, TempDirState& state) {
                    Direct(h, state);
                    h.settings.m_bMultipartJoin = 1;
                    h.modem.received.partReference = 5;
                    h.modem.received.partCount = 2;
                    h.modem.received.partNumber = 1;
                },
                1},
        AckCase{"UndecodableRejected", POLL_UNDECODABLE,
                [](EngineHarness& h, TempDirState& state) {
                    Direct(h, state);
                    h.modem.received.decoded = false;
                    h.modem.received.pdu = "0791";
                },
                1},
        AckCase{"UndecodableNotKept", POLL_UNDECODABLE,
                [](EngineHarness& h, TempDirState& state) {
                    Direct(h, state);
                    h.modem.received.decoded = false;
                    state.store.Close();
                },
                0},
        AckCase{"StoredMessage", POLL_NEW_MESSAGE,
                [](EngineHarness& h, TempDirState& state) {
                    Direct(h, state);
                    h.modem.received.inStore = true;
                    h.modem.received.index = 3;
                    h.modem.received.store = "SM";
                },
                0},
        AckCase{"ReportWithoutReportSql", POLL_STATUS_REPORT, [](EngineHarness&, TempDirState&) {}, 1},
        AckCase{"ReportTaken", POLL_STATUS_REPORT,
                [](EngineHarness& h, TempDirState&) { h.settings.m_strReportSql = "update smsout set status=1"; },
                1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
