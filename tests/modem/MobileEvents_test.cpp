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

TEST_F(PollFixture, StoredMessageInTheCurrentStorageIsReadAndDeleted) {
    device.m_answers["AT+CMGR=3\r"] = HELLO_CMGR;
    EXPECT_EQ(POLL_NEW_MESSAGE, Poll("\r\n+CMTI: \"SM\",3\r\n"));
    EXPECT_EQ((std::vector<std::string>{"AT+CMGR=3\r", "AT+CMGD=3\r"}), device.Commands());
    EXPECT_EQ(5000, device.m_calls[1].timeoutMs);
    EXPECT_EQ(3, mobile.m_received.nReference);
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
    EXPECT_EQ((std::vector<std::string>{"AT+CPMS=\"ME\"\r", "AT+CMGR=5\r", "AT+CMGD=5\r", "AT+CPMS=\"SM\"\r"}),
              device.Commands());
    EXPECT_EQ("SM", mobile.m_strStorage);
}

TEST_F(PollFixture, DeleteFlagOffKeepsTheMessage) {
    mobile.m_bDeleteReadMessage = 0;
    device.m_answers["AT+CMGR=3\r"] = HELLO_CMGR;
    EXPECT_EQ(POLL_NEW_MESSAGE, Poll("+CMTI: \"SM\",3\r\n"));
    EXPECT_EQ(0, device.CountOf("AT+CMGD=3\r"));
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

TEST_F(PollFixture, LongTextWithoutEventsIsCutToItsLast512Characters) {
    std::string noise;
    for (int i = 0; noise.size() < 1100; ++i) noise += "line " + std::to_string(i) + "\r\n";
    EXPECT_EQ(1, Poll(noise));
    EXPECT_EQ(noise.substr(noise.size() - 512), device.m_strReceived);
}

TEST_F(PollFixture, TextUpToTheLeastScanPositionIsDropped) {
    device.m_answers["AT+CMGR=1\r"] = HELLO_CMGR;
    device.m_answers["AT+CMGR=2\r"] = REPORT_CMGR;
    const std::string text = "\r\n+CMTI: \"SM\",1\r\n\r\n+CDSI: \"SM\",2\r\n";
    ASSERT_EQ(POLL_NEW_MESSAGE, Poll(text));
    ASSERT_EQ(POLL_STATUS_REPORT, mobile.PollEvents());
    device.m_strReceived = text;  // without the replies, to follow the positions
    EXPECT_EQ(1, Poll("\r\nRING\r\n"));  // the call position passes both indications
    EXPECT_EQ(std::string::npos, device.m_strReceived.find("+CMTI"));
    EXPECT_NE(std::string::npos, device.m_strReceived.find("+CDSI"));  // only up to the least position
}

}  // namespace
