#include "SimRig.h"

#include <gtest/gtest.h>

namespace {

struct ExchangeFixture : ::testing::Test {
    SimRig rig;
    CMobile& mobile = *rig.mobile;
    void SetUp() override { ASSERT_EQ(1, mobile.Connect()); }
};

TEST_F(ExchangeFixture, EchoIsRemoved) {
    EXPECT_EQ("1", rig.State("echo"));
    EXPECT_EQ("OK\r\n", mobile.SendCommand("AT", "", 2000));
    EXPECT_EQ("+CSQ: 17,99\r\n\r\nOK\r\n", mobile.SendCommand("AT+CSQ", "", 2000));
}

TEST_F(ExchangeFixture, ChunkedReplyIsReassembled) {
    rig.sim.Control("FAULT CHUNK 3 30");
    // Collecting stops with the piece that completes "OK"; the final line end comes later.
    EXPECT_EQ(0u, mobile.SendCommand("AT+CBC", "", 5000).find("+CBC: 0,85\r\n\r\nOK"));
    EXPECT_EQ(17, mobile.GetSignalQuality());
}

TEST_F(ExchangeFixture, TimeOutReturnsWhatArrived) {
    rig.sim.Control("FAULT CHUNK 4 300");
    const std::string full = "+CSQ: 17,99\r\n\r\nOK\r\n";
    const std::string reply = mobile.SendCommand("AT+CSQ", "", 1000);
    EXPECT_FALSE(reply.empty());
    EXPECT_EQ(std::string::npos, reply.find("OK"));
    EXPECT_EQ(0u, full.find(reply)) << reply;  // the beginning of the reply, nothing else
    EXPECT_EQ(-1, mobile.GetSignalQuality());  // the rest is still arriving slowly
}

TEST_F(ExchangeFixture, ErrorEndsTheReply) {
    const std::string reply = mobile.SendCommand("AT+CPMS=\"XX\"", "", 2000);
    EXPECT_NE(std::string::npos, reply.find("ERROR"));
    EXPECT_EQ(std::string::npos, reply.find("OK"));
    EXPECT_EQ(-1, mobile.SetStorage("XX"));
    EXPECT_EQ("SM", mobile.m_strStorage);
}

TEST_F(ExchangeFixture, UnsolicitedLineInsideAReplyDoesNotSpoilIt) {
    rig.sim.Control("FAULT INJECT +CMTI: \"SM\",1");
    EXPECT_EQ(85, mobile.GetBatteryLevel());
    EXPECT_NE(std::string::npos, mobile.Connection().GetReceived().find("+CMTI: \"SM\",1"));
}

TEST_F(ExchangeFixture, SlowModemAnswersWithinTheTimeOut) {
    rig.sim.Control("FAULT SLOW 700");
    EXPECT_EQ(17, mobile.GetSignalQuality());
}

}  // namespace
