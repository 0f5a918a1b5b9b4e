#include "Pdus.h"
#include "ScriptedTransport.h"

#include <gtest/gtest.h>

namespace {

const std::string HELLO_CMGR = std::string("+CMGR: 0,,29\r\n") + pdus::HELLO + "\r\n\r\nOK\r\n";
const std::string REPORT_CMGR = std::string("+CMGR: 0,,25\r\n") + pdus::REPORT_42 + "\r\n\r\nOK\r\n";

struct PollFixture : ::testing::Test {
    ScriptedMobile rig;
    CMobile& mobile = *rig.mobile;
    ScriptedTransport& device = *rig.device;
    void SetUp() override {
        mobile.m_strStorage = "SM";
        device.m_fallback = "OK\r\n";
    }
    int Poll(const std::string& arriving) {
        device.m_incoming += arriving;
        return mobile.PollEvents();
    }
};

TEST_F(PollFixture, ClosedLinkAndBusyDriver) {
    device.m_open = false;
    EXPECT_EQ(0, Poll("\r\nRING\r\n"));
    device.m_open = true;
    mobile.m_bBusy = 1;
    EXPECT_EQ(-1, mobile.PollEvents());
    EXPECT_EQ("", device.m_strReceived);  // nothing read while busy
    EXPECT_EQ(0, rig.clock.m_sleeps);     // and no waiting
}

TEST_F(PollFixture, NothingToReport) {
    EXPECT_EQ(1, Poll("\r\nOK\r\n"));
    EXPECT_EQ(0, mobile.m_bBusy);
}

TEST_F(PollFixture, StoredMessageIsReadAndLeftForTheEngineToDelete) {
    device.m_answers["AT+CMGR=3\r"] = HELLO_CMGR;
    EXPECT_EQ(POLL_NEW_MESSAGE, Poll("\r\n+CMTI: \"SM\",3\r\n"));
    EXPECT_EQ((std::vector<std::string>{"AT+CMGR=3\r"}), device.Commands());
    EXPECT_EQ(3, mobile.m_received.nReference);
    EXPECT_EQ("SM", mobile.m_received.strStorage);
    EXPECT_EQ(KIND_TEXT, mobile.m_received.nKind);
    EXPECT_EQ("+491701234567", mobile.m_received.strPhone);
    EXPECT_EQ("Hello world", mobile.m_received.strText);
    EXPECT_EQ("261207093000", mobile.m_received.strTime);
    EXPECT_EQ(0, rig.clock.m_slept);  // read at once
    EXPECT_EQ(0, mobile.m_bBusy);
    EXPECT_EQ(1, mobile.PollEvents());  // the indication is taken
}

TEST_F(PollFixture, MessageInAnotherStorageIsReadThereAndTheStorageRestored) {
    device.m_answers["AT+CMGR=5\r"] = HELLO_CMGR;
    EXPECT_EQ(POLL_NEW_MESSAGE, Poll("\r\n+CMTI: \"ME\",5\r\n"));
    EXPECT_EQ((std::vector<std::string>{"AT+CPMS=\"ME\"\r", "AT+CMGR=5\r", "AT+CPMS=\"SM\"\r"}), device.Commands());
    EXPECT_EQ("SM", mobile.m_strStorage);
    EXPECT_EQ("ME", mobile.m_received.strStorage);
}

// Each indication is taken by its own line and prefix, in the order they came, whatever follows.
TEST_F(PollFixture, IndicationsOfBothKindsBackToBackAreEachTaken) {
    device.m_answers["AT+CMGR=3\r"] = HELLO_CMGR;
    device.m_answers["AT+CMGR=4\r"] = HELLO_CMGR;
    const std::string direct = std::string("\r\n+CMT: ,29\r\n") + pdus::HELLO + "\r\n";
    const std::string alpha = std::string("\r\n+CMT: \"BANK\",29\r\n") + pdus::HELLO + "\r\n";
    device.m_incoming = direct + "\r\n+CMTI: \"SM\",3\r\n" + alpha + "+CMTI: \"SM\",4\r\n";
    std::vector<int> references;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(POLL_NEW_MESSAGE, mobile.PollEvents()) << i;
        references.push_back(mobile.m_received.nReference);
        EXPECT_EQ("Hello world", mobile.m_received.strText);
    }
    EXPECT_EQ((std::vector<int>{0, 3, 0, 4}), references);
    EXPECT_EQ(1, mobile.PollEvents());
    EXPECT_EQ((std::vector<std::string>{"AT+CMGR=3\r", "AT+CMGR=4\r"}), device.Commands());
}

// A PDU shorter than its length, or one that does not decode, is handed over once as
// undecodable, and the indications after it are still taken.
TEST_F(PollFixture, UndecodablePdusAreHandedOverWithWhereTheyCameFrom) {
    const std::string hello = pdus::HELLO;
    const std::string truncated = hello.substr(0, hello.size() - 10);
    device.m_answers["AT+CMGR=6\r"] = "+CMGR: 0,,29\r\n" + truncated + "\r\n\r\nOK\r\n";
    device.m_incoming = "\r\n+CMT: ,29\r\n" + truncated + "\r\n\r\n+CMT: ,29\r\nZZ" + hello.substr(2) +
                        "\r\n\r\n+CMTI: \"SM\",6\r\n\r\n+CMT: ,29\r\n" + hello + "\r\n";
    ASSERT_EQ(POLL_UNDECODABLE, mobile.PollEvents());
    EXPECT_EQ(truncated, mobile.m_received.strPdu);
    EXPECT_EQ(0, mobile.m_received.nReference);
    EXPECT_EQ(0, mobile.m_received.bDecoded);
    ASSERT_EQ(POLL_UNDECODABLE, mobile.PollEvents());  // not hex
    ASSERT_EQ(POLL_UNDECODABLE, mobile.PollEvents());
    EXPECT_EQ(6, mobile.m_received.nReference);
    EXPECT_EQ("SM", mobile.m_received.strStorage);
    EXPECT_EQ(truncated, mobile.m_received.strPdu);
    EXPECT_EQ(1, device.CountOf("AT+CMGR=6\r"));  // no retries: the PDU is there, and broken
    ASSERT_EQ(POLL_NEW_MESSAGE, mobile.PollEvents());
    EXPECT_EQ("Hello world", mobile.m_received.strText);
    EXPECT_EQ(1, mobile.m_received.bDecoded);
}

TEST_F(PollFixture, UnreadableMessageIsTriedThreeTimesThenLeftInTheStore) {
    device.m_answers["AT+CMGR=9\r"] = "+CMS ERROR: 321\r\n";
    EXPECT_EQ(1, Poll("+CMTI: \"ME\",9\r\n"));
    EXPECT_EQ((std::vector<std::string>{"AT+CPMS=\"ME\"\r", "AT+CMGR=9\r", "AT+CMGR=9\r", "AT+CMGR=9\r",
                                        "AT+CPMS=\"SM\"\r"}),
              device.Commands());
    EXPECT_EQ(150 + 250, rig.clock.m_slept);  // pauses only before the second and third read
    device.m_calls.clear();
    EXPECT_EQ(1, mobile.PollEvents());  // not tried again
    EXPECT_TRUE(device.m_calls.empty());
}

// A place that holds no message (an empty place in any header layout) is never handed over,
// so nothing is inserted or deleted; place 0 is a place.
TEST_F(PollFixture, StoredIndicationOfAPlaceWithoutMessageHandsNothingOver) {
    const struct {
        const char* name;
        std::string cmgr;
    } cases[] = {
        {"stat, alpha, length 0", "+CMGR: 0,,0\r\n\r\nOK\r\n"},
        {"index first, length 0", "+CMGR: 4,0,,0\r\n\r\nOK\r\n"},
        {"length 0 alone", "+CMGR: 0\r\n\r\nOK\r\n"},
    };
    for (const auto& c : cases) {
        device.m_answers["AT+CMGR=4\r"] = c.cmgr;
        device.m_calls.clear();
        EXPECT_EQ(1, Poll("\r\n+CMTI: \"SM\",4\r\n")) << c.name;
        EXPECT_EQ(3u, device.Commands().size()) << c.name;  // three reads, no delete
    }
    device.m_answers["AT+CMGR=0\r"] = std::string("+CMGR: 0,29\r\n") + pdus::HELLO + "\r\n\r\nOK\r\n";
    EXPECT_EQ(POLL_NEW_MESSAGE, Poll("\r\n+CMTI: \"SM\",0\r\n"));
    EXPECT_EQ(0, mobile.m_received.nReference);
    EXPECT_EQ(1, mobile.m_received.bInStore);
    EXPECT_EQ("Hello world", mobile.m_received.strText);
}

TEST_F(PollFixture, SecondReadSucceeds) {
    device.m_queued["AT+CMGR=3\r"] = {"ERROR\r\n", HELLO_CMGR};
    EXPECT_EQ(POLL_NEW_MESSAGE, Poll("+CMTI: \"SM\",3\r\n"));
    EXPECT_EQ(150, rig.clock.m_slept);  // the pause comes only after the failed read
}

TEST_F(PollFixture, DirectMessageArrivingInTwoPieces) {
    const std::string indication = std::string("\r\n+CMT: ,29\r\n") + pdus::HELLO + "\r\n";
    EXPECT_EQ(1, Poll(indication.substr(0, 30)));
    EXPECT_EQ(POLL_NEW_MESSAGE, Poll(indication.substr(30)));
    EXPECT_EQ(0, mobile.m_received.nReference);
    EXPECT_EQ("Hello world", mobile.m_received.strText);
    EXPECT_EQ("+491701234567", mobile.m_received.strPhone);
    EXPECT_TRUE(device.m_calls.empty());  // nothing to read or delete
    EXPECT_EQ(1, mobile.PollEvents());
}

TEST_F(PollFixture, DirectStatusReport) {
    EXPECT_EQ(POLL_STATUS_REPORT, Poll(std::string("\r\n+CDS: 25\r\n") + pdus::REPORT_42 + "\r\n"));
    EXPECT_EQ(42, mobile.m_statusReport.nReference);
    EXPECT_EQ(1, mobile.m_statusReport.bDelivered);
    EXPECT_EQ("+491709876543", mobile.m_statusReport.strPhone);
    EXPECT_EQ("261207093000", mobile.m_statusReport.strTime);
    EXPECT_EQ(1, mobile.PollEvents());
}

TEST_F(PollFixture, StoredStatusReportIsReadAndDeleted) {
    device.m_answers["AT+CMGR=2\r"] = REPORT_CMGR;
    EXPECT_EQ(POLL_STATUS_REPORT, Poll("\r\n+CDSI: \"SM\",2\r\n"));
    EXPECT_EQ((std::vector<std::string>{"AT+CMGR=2\r", "AT+CMGD=2\r"}), device.Commands());
    EXPECT_EQ(42, mobile.m_statusReport.nReference);
}

TEST_F(PollFixture, StatusReportAnnouncedAsAMessageIsNotANewMessage) {
    device.m_answers["AT+CMGR=2\r"] = REPORT_CMGR;
    EXPECT_EQ(1, Poll("\r\n+CMTI: \"SM\",2\r\n"));
    EXPECT_EQ(3, device.CountOf("AT+CMGR=2\r"));
    EXPECT_EQ(0, device.CountOf("AT+CMGD=2\r"));
}

TEST_F(PollFixture, RingWithoutCallerIdAsksForTheCurrentCalls) {
    EXPECT_EQ(1, Poll("\r\nRING\r\n"));
    EXPECT_EQ((std::vector<std::string>{"AT+CLCC\r"}), device.Commands());
    EXPECT_EQ(POLL_INCOMING_CALL, Poll("\r\n+CLCC: 1,1,4,0,0,\"+491701111111\",145\r\n"));
}

TEST_F(PollFixture, RingWithCallerIdAsksNothing) {
    EXPECT_EQ(POLL_INCOMING_CALL, Poll("\r\nRING\r\n\r\n+CLIP: \"+491702222222\",145,,,,0\r\n"));
    EXPECT_TRUE(device.m_calls.empty());
}

TEST_F(PollFixture, SameCallerWithinEightSecondsCountsOnce) {
    const std::string clip = "\r\nRING\r\n\r\n+CLIP: \"+491703333333\",145\r\n";
    EXPECT_EQ(POLL_INCOMING_CALL, Poll(clip));
    rig.clock.m_now += 4000;
    EXPECT_EQ(1, Poll(clip));
    rig.clock.m_now += 9000;
    EXPECT_EQ(POLL_INCOMING_CALL, Poll(clip));
    rig.clock.m_now += 1000;
    EXPECT_EQ(POLL_INCOMING_CALL, Poll("\r\nRING\r\n\r\n+CLIP: \"+491704444444\",145\r\n"));
}

TEST_F(PollFixture, NoiseIsDroppedAndAnOverlongLineCutToItsLast512Characters) {
    std::string noise;
    for (int i = 0; noise.size() < 1100; ++i) noise += "line " + std::to_string(i) + "\r\n";
    for (int i = 0; i < 20; ++i) EXPECT_EQ(1, Poll(noise));
    EXPECT_LE(device.m_strReceived.size(), 2u);  // whole lines, all scanned, are not kept
    EXPECT_EQ(1, Poll("partial"));
    EXPECT_EQ("partial", device.m_strReceived);  // complete lines without events are gone
    const std::string junk(1100, 'x');
    EXPECT_EQ(1, Poll(junk));
    EXPECT_EQ(junk.substr(junk.size() - 512), device.m_strReceived);
}

// A burst longer than the limit loses nothing: indications wait until a poll takes them.
TEST_F(PollFixture, BurstBeyondTheLimitKeepsEveryIndication) {
    std::string burst;
    for (int i = 0; i < 12; ++i) burst += std::string("\r\n+CMT: ,29\r\n") + pdus::HELLO + "\r\n";
    ASSERT_GT(burst.size(), 1024u);
    device.m_incoming = burst;
    int messages = 0;
    while (mobile.PollEvents() == POLL_NEW_MESSAGE) ++messages;
    EXPECT_EQ(12, messages);
}

TEST_F(PollFixture, TakenIndicationsAreDroppedAndNeverTakenAgain) {
    device.m_answers["AT+CMGR=1\r"] = HELLO_CMGR;
    device.m_answers["AT+CMGR=2\r"] = REPORT_CMGR;
    ASSERT_EQ(POLL_NEW_MESSAGE, Poll("\r\n+CMTI: \"SM\",1\r\n\r\n+CDSI: \"SM\",2\r\n"));
    ASSERT_EQ(POLL_STATUS_REPORT, mobile.PollEvents());
    EXPECT_EQ(1, Poll("\r\nRING"));  // an incomplete line stays
    device.m_calls.clear();
    EXPECT_EQ(1, Poll("\r\n"));
    EXPECT_EQ(1, Poll("\r\npartial"));
    EXPECT_EQ("partial", device.m_strReceived);
    EXPECT_TRUE(device.m_calls.empty());  // nothing read again
}

// The received text of a reopened link starts empty: the scan starts again with it.
TEST_F(PollFixture, AReopenedLinkIsScannedFromItsStart) {
    rig.AnswerLikeAModem();
    std::string noise;
    while (noise.size() < 1000) noise += "+CSQ: 17,99\r\n\r\nOK\r\n";
    EXPECT_EQ(1, Poll(noise));
    ASSERT_EQ(1, mobile.Disconnect());
    ASSERT_EQ(1, mobile.Connect());
    EXPECT_EQ(POLL_NEW_MESSAGE, Poll(std::string("\r\n+CMT: ,29\r\n") + pdus::HELLO + "\r\n"));
}

// AT+CSMS=1 at connect decides whether a direct message is acknowledged; a refused
// acknowledgement (the modem stopped waiting and turned routing off) sets routing again.
struct AckCase {
    const char* name;
    const char* csmsReply;
    const char* cnmaReply;
    int ackDirect;
    int acknowledged;
    std::vector<std::string> sent;  // after the poll
};

struct AckFixture : PollFixture, ::testing::WithParamInterface<AckCase> {};

TEST_P(AckFixture, DirectMessageIsAcknowledgedWhenTheModemAsks) {
    const AckCase& c = GetParam();
    rig.AnswerLikeAModem();
    device.m_answers["AT+CSMS=1\r"] = c.csmsReply;
    device.m_answers["AT+CNMA\r"] = c.cnmaReply;
    ASSERT_EQ(1, mobile.Connect());
    EXPECT_EQ(c.ackDirect, mobile.m_bAckDirect);
    device.m_calls.clear();
    ASSERT_EQ(POLL_NEW_MESSAGE, Poll(std::string("\r\n+CMT: ,29\r\n") + pdus::HELLO + "\r\n"));
    EXPECT_TRUE(device.m_calls.empty());  // not before the engine has kept it
    EXPECT_EQ(c.acknowledged, mobile.AcknowledgeDirect());
    EXPECT_EQ(1, mobile.AcknowledgeDirect());  // nothing owed any more
    EXPECT_EQ(c.sent, device.Commands());
}

INSTANTIATE_TEST_SUITE_P(
    Services, AckFixture,
    ::testing::Values(
        AckCase{"PhaseTwoPlus", "+CSMS: 1,1,1\r\n\r\nOK\r\n", "OK\r\n", 1, 1, {"AT+CNMA\r"}},
        AckCase{"AckRefused", "+CSMS: 1,1,1\r\n\r\nOK\r\n", "+CMS ERROR: 340\r\n", 1, 0,
                {"AT+CNMA\r", "AT+CNMI=2,3,0,1,0\r"}},
        AckCase{"SecondForm", "+CSMS: 1,1,1\r\n\r\nOK\r\n", "ERROR\r\n", 1, 1, {"AT+CNMA\r", "AT+CNMA=0\r"}},
        AckCase{"PhaseTwoOnly", "+CMS ERROR: 303\r\n", "OK\r\n", 0, 1, {}},
        AckCase{"NoReceivingInPhaseTwoPlus", "+CSMS: 0,1,1\r\n\r\nOK\r\n", "OK\r\n", 0, 1, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PollFixture, RoutingTurnedOffIsSetAgain) {
    rig.AnswerLikeAModem();
    device.m_answers["AT+CSMS=1\r"] = "+CSMS: 1,1,1\r\n\r\nOK\r\n";
    ASSERT_EQ(1, mobile.Connect());
    struct Row {
        const char* reply;
        int result;
        int resent;
    };
    for (const Row& row : {Row{"+CNMI: 2,3,0,1,0\r\n\r\nOK\r\n", 1, 0}, Row{"+CNMI: 2,0,0,0,0\r\n\r\nOK\r\n", 0, 1},
                           Row{"ERROR\r\n", -1, 0}}) {
        device.m_answers["AT+CNMI?\r"] = row.reply;
        device.m_calls.clear();
        EXPECT_EQ(row.result, mobile.CheckRouting()) << row.reply;
        EXPECT_EQ(row.resent, device.CountOf("AT+CNMI=2,3,0,1,0\r")) << row.reply;
    }
}

}  // namespace
