#include "SimRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// A value of a flat JSON record line: the text of a string, or the digits of a number.
std::string JsonValue(const std::string& record, const std::string& key) {
    const std::string head = "\"" + key + "\":";
    size_t at = record.find(head);
    if (at == std::string::npos) return "";
    at += head.size();
    if (record[at] == '"') {
        const size_t end = record.find('"', at + 1);
        return record.substr(at + 1, end - at - 1);
    }
    const size_t end = record.find_first_of(",}", at);
    return record.substr(at, end - at);
}

struct Submitted {
    long long t;
    std::string pdu, result, mr;
};

std::vector<Submitted> SubmittedPdus(ModemSim& sim) {
    std::vector<Submitted> out;
    for (const std::string& r : sim.Submitted())
        out.push_back({std::stoll(JsonValue(r, "t")), JsonValue(r, "pdu"), JsonValue(r, "result"), JsonValue(r, "mr")});
    return out;
}

struct MessageFixture : ::testing::Test {
    SimRig rig;
    CMobile& mobile = *rig.mobile;
    void SetUp() override {
        ASSERT_EQ(1, mobile.Connect());
        mobile.SetRetryInterval(1);
    }
    // Polls like the worker loop until something other than "nothing" comes back or
    // `limitMs` have passed.
    int PollUntilEvent(int limitMs = 30000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        int result;
        while ((result = mobile.PollEvents()) == 1 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return result;
    }
    // The stored SMS-SUBMIT as the project's own decoder reads it.
    static CSmsPdu DecodeSubmit(const std::string& pdu) {
        CSmsPdu record;
        record.m_strPduIn = pdu;
        record.m_nStorageStatus = 2;
        EXPECT_EQ(PDU_OK, record.Decode());
        return record;
    }
};

TEST_F(MessageFixture, SinglePduIsAcceptedWithTheModemsReference) {
    const int first = mobile.SendMessage("+491701234567", "Hello from the gateway", KIND_TEXT);
    EXPECT_EQ(0, first);  // the simulator's first reference is 0: still a success
    EXPECT_EQ(1, mobile.SendMessage("+491701234567", "Second", KIND_TEXT));
    const std::vector<Submitted> sent = SubmittedPdus(rig.sim);
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("ok", sent[0].result);
    EXPECT_EQ("0", sent[0].mr);
    const CSmsPdu decoded = DecodeSubmit(sent[0].pdu);
    EXPECT_EQ("+491701234567", decoded.m_strPhone);
    EXPECT_EQ("Hello from the gateway", decoded.m_strText);
}

TEST_F(MessageFixture, LongMessageSegmentsAreSpacedByTheRetryInterval) {
    mobile.SetRetryInterval(2);
    std::string text;
    for (int i = 0; i < 36; ++i) text += "part" + std::to_string(i % 10) + "text ";
    ASSERT_GT(text.size(), 306u);
    EXPECT_GE(mobile.SendMessage("+491701234567", text, KIND_LONG), 0);
    const std::vector<Submitted> sent = SubmittedPdus(rig.sim);
    ASSERT_EQ(3u, sent.size());
    for (size_t i = 1; i < sent.size(); ++i) EXPECT_GE(sent[i].t - sent[i - 1].t, 2000) << "segment " << i;
    std::string joined;
    for (const Submitted& s : sent) joined += DecodeSubmit(s.pdu).m_strText;
    EXPECT_EQ(text, joined);
}

TEST_F(MessageFixture, RefusedPromptIsFollowedByPduModeAndARetry) {
    rig.sim.Control("FAULT CMGS 1 prompt");
    EXPECT_GE(mobile.SendMessage("+491701234567", "retry me", KIND_TEXT), 0);
    std::vector<std::string> heard = rig.Heard();
    const auto first = std::find_if(heard.begin(), heard.end(),
                                    [](const std::string& c) { return c.rfind("AT+CMGS=", 0) == 0; });
    ASSERT_NE(heard.end(), first);
    ASSERT_GE(heard.end() - first, 4);
    EXPECT_EQ("AT+CMGF=0", *(first + 1));
    EXPECT_EQ("AT", *(first + 2));
    EXPECT_EQ(*first, *(first + 3));
    EXPECT_EQ(1u, SubmittedPdus(rig.sim).size());
}

TEST_F(MessageFixture, SilentModemIsGivenUpForOneAttempt) {
    rig.sim.Control("FAULT SILENT 1");
    EXPECT_GE(mobile.SendMessage("+491701234567", "after silence", KIND_TEXT), 0);
    const std::vector<std::string> heard = rig.Heard();
    const auto cmgf = std::find(heard.begin() + 1, heard.end(), "AT+CMGF=0");
    ASSERT_NE(heard.end(), cmgf);
    EXPECT_NE(std::string::npos, rig.Log().find("No Answer"));
    ASSERT_EQ(1u, SubmittedPdus(rig.sim).size());
}

TEST_F(MessageFixture, AcceptanceWithoutReferenceIsSentOnceWithReferenceZero) {
    rig.sim.Control("FAULT CMGS 1 noref");
    EXPECT_EQ(0, mobile.SendMessage("+491701234567", "once", KIND_TEXT));
    const std::vector<Submitted> sent = SubmittedPdus(rig.sim);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("noref", sent[0].result);
}

TEST_F(MessageFixture, MessageFailingEveryAttemptIsNotSent) {
    mobile.SetSendAttempts(2);
    rig.sim.Control("FAULT CMGS 2 pdu");
    EXPECT_EQ(-1, mobile.SendMessage("+491701234567", "refused", KIND_TEXT));
    const std::vector<Submitted> sent = SubmittedPdus(rig.sim);
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("error", sent[1].result);
}

TEST_F(MessageFixture, StoredMessageIsReadKeptAndReported) {
    rig.sim.Control("DELIVER via=store mem=SM from=+491709998877 text=Inbound hello");
    ASSERT_EQ(POLL_NEW_MESSAGE, PollUntilEvent());
    EXPECT_EQ("+491709998877", mobile.m_received.strPhone);
    EXPECT_EQ("Inbound hello", mobile.m_received.strText);
    EXPECT_EQ("261207093000", mobile.m_received.strTime);
    EXPECT_EQ(1, mobile.m_received.nReference);
    EXPECT_NE("OK\n", rig.sim.Control("LIST SM"));  // kept until the inbox holds it
    EXPECT_EQ(1, mobile.DeleteStoredMessage("SM", 1));
    EXPECT_EQ("OK\n", rig.sim.Control("LIST SM"));
}

TEST_F(MessageFixture, MessageInAnotherStorageIsReadThereAndTheStorageRestored) {
    rig.sim.Control("DELIVER via=store mem=ME from=+491709998877 text=In ME");
    ASSERT_EQ(POLL_NEW_MESSAGE, PollUntilEvent());
    EXPECT_EQ("In ME", mobile.m_received.strText);
    const std::vector<std::string> heard = rig.Heard();
    const auto select = std::find(heard.begin(), heard.end(), "AT+CPMS=\"ME\"");
    ASSERT_NE(heard.end(), select);
    EXPECT_EQ((std::vector<std::string>{"AT+CPMS=\"ME\"", "AT+CMGR=1", "AT+CPMS=\"SM\""}),
              std::vector<std::string>(select, std::min(select + 3, heard.end())));
    EXPECT_EQ("SM", rig.State("mem1"));
    EXPECT_EQ("ME", mobile.m_received.strStorage);
}

TEST_F(MessageFixture, DirectDeliveryInTwoPieces) {
    rig.sim.Control("DELIVER via=silent mem=MT from=+491701234567 text=Direct text");
    const std::string listed = ModemSim::Lines(rig.sim.Control("LIST MT")).at(0);
    const std::string pdu = JsonValue(listed, "pdu");
    const std::string length = JsonValue(listed, "length");
    rig.sim.Control("CLEAR");
    rig.sim.Control("UNSOLICITED +CMT: ," + length);
    EXPECT_EQ(1, PollUntilEvent(300));  // the PDU line has not arrived
    rig.sim.Control("UNSOLICITED " + pdu);
    ASSERT_EQ(POLL_NEW_MESSAGE, PollUntilEvent());
    EXPECT_EQ(0, mobile.m_received.nReference);
    EXPECT_EQ("Direct text", mobile.m_received.strText);
}

TEST_F(MessageFixture, StatusReportsDirectAndStored) {
    const int reference = mobile.SendMessage("+491705554443", "report me", KIND_TEXT);
    ASSERT_GE(reference, 0);
    rig.sim.Control("REPORT via=direct mr=" + std::to_string(reference) + " to=+491705554443");
    ASSERT_EQ(POLL_STATUS_REPORT, PollUntilEvent());
    EXPECT_EQ(reference, mobile.m_statusReport.nReference);
    EXPECT_EQ(1, mobile.m_statusReport.bDelivered);
    EXPECT_EQ("+491705554443", mobile.m_statusReport.strPhone);

    rig.sim.Control("REPORT via=store mem=SM mr=77 status=70");
    ASSERT_EQ(POLL_STATUS_REPORT, PollUntilEvent());
    EXPECT_EQ(77, mobile.m_statusReport.nReference);
    EXPECT_EQ(0, mobile.m_statusReport.bDelivered);
    EXPECT_EQ("OK\n", rig.sim.Control("LIST SM"));
}

TEST_F(MessageFixture, CallerIsReportedOncePerCall) {
    rig.sim.Control("RING +491706667778");
    EXPECT_EQ(POLL_INCOMING_CALL, PollUntilEvent());
    rig.sim.Control("RING +491706667778");
    EXPECT_EQ(1, PollUntilEvent(500));  // the same call ringing on
    rig.sim.Control("HANGUP");
    rig.sim.Control("RING +491709990000");
    EXPECT_EQ(POLL_INCOMING_CALL, PollUntilEvent());
}

TEST_F(MessageFixture, StoreCountsReadAndDelete) {
    rig.sim.Control("DELIVER via=silent mem=SM from=+491701112223 text=one");
    rig.sim.Control("DELIVER via=silent mem=SM from=+491701112223 text=two");
    EXPECT_EQ(2, mobile.GetUsedCount());
    EXPECT_EQ(30, mobile.GetTotalCount());
    EXPECT_EQ(1, mobile.ReadStoredMessage(2));
    EXPECT_EQ("two", mobile.m_lastRead.strText);
    EXPECT_EQ(2, mobile.m_lastRead.nReference);
    EXPECT_EQ(-1, mobile.ReadStoredMessage(5));  // an empty place
    EXPECT_EQ(1, mobile.DeleteMessage(2));
    EXPECT_EQ(1, mobile.GetUsedCount());
}

TEST_F(MessageFixture, ReceivedTextIsKeptShort) {
    for (int i = 0; i < 40; ++i) rig.sim.Control("UNSOLICITED +CREG: 1,\"00A1\",\"0B2C\" line " + std::to_string(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = 0; i < 5; ++i) mobile.PollEvents();
    EXPECT_LE(mobile.Connection().GetReceived().size(), 1024u);
}

// The PDUs the driver builds, written into the simulator's store and read back by gammu.
TEST_F(MessageFixture, PeerToolDecodesTheSubmittedPdus) {
    ASSERT_GE(mobile.SendMessage("+491701234567", "Checked by a peer", KIND_TEXT), 0);
    ASSERT_GE(mobile.SubmitPdus(0), 0);  // the same PDU, stored with AT+CMGW
    ASSERT_EQ(1, mobile.Disconnect());

    const std::string config = rig.dir.file("gammurc");
    FILE* file = std::fopen(config.c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fprintf(file, "[gammu]\ndevice = %s\nconnection = at\n", rig.sim.LinkPath().c_str());
    std::fclose(file);
    const std::string command = "timeout 60 gammu -c " + config + " getallsms 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    ::pclose(pipe);
    EXPECT_NE(std::string::npos, output.find("\"+491701234567\"")) << output;
    EXPECT_NE(std::string::npos, output.find("Checked by a peer")) << output;
}

}  // namespace
