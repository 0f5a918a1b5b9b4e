#include "ScriptedTransport.h"

#include <gtest/gtest.h>

namespace {

struct GuardFixture : ::testing::Test {
    ScriptedMobile rig;
    CMobile& mobile = *rig.mobile;
};

TEST_F(GuardFixture, SendCommandAppendsOneCrAndReturnsTheReplyUnjudged) {
    rig.device->m_answers["AT+CSQ\r"] = "+CME ERROR: 30\r\n";
    EXPECT_EQ("+CME ERROR: 30\r\n", mobile.SendCommand("AT+CSQ", "", 2000));
    ASSERT_EQ(1u, rig.device->m_calls.size());
    EXPECT_EQ("AT+CSQ\r", rig.device->m_calls[0].command);
    EXPECT_EQ(2000, rig.device->m_calls[0].timeoutMs);
    EXPECT_EQ(0, mobile.m_bBusy);
}

TEST_F(GuardFixture, OperationWaitsAboutOneSecondForABusyDriverThenGivesUp) {
    mobile.m_bBusy = 1;  // another operation is running
    const long long start = rig.clock.m_now;
    EXPECT_EQ(-1, mobile.GetSignalQuality());
    EXPECT_EQ(1000, rig.clock.m_now - start);  // 20 slices of 50 ms on the simulated clock
    EXPECT_EQ(20, rig.clock.m_pumps);
    EXPECT_TRUE(rig.device->m_calls.empty());
    EXPECT_EQ(1, mobile.m_bBusy);  // the running operation keeps its flag
}

TEST_F(GuardFixture, EveryPublicOperationFailsWhileBusyWithoutSendingAnything) {
    mobile.m_bBusy = 1;
    EXPECT_EQ("", mobile.GetImei());
    EXPECT_EQ("", mobile.GetManufacturer());
    EXPECT_EQ("", mobile.GetModel());
    EXPECT_EQ("", mobile.SendCommand("AT", "", 100));
    EXPECT_EQ(-1, mobile.SetStorage("SM"));
    EXPECT_EQ(-1, mobile.GetBatteryLevel());
    EXPECT_EQ(-1, mobile.GetSignalQuality());
    EXPECT_EQ(-1, mobile.SetServiceCentre("+491710760000"));
    EXPECT_EQ(-1, mobile.Connect());
    EXPECT_EQ(-1, mobile.Disconnect());
    EXPECT_EQ(-1, mobile.GetUsedCount());
    EXPECT_EQ(-1, mobile.GetTotalCount());
    EXPECT_EQ(-1, mobile.ReadStoredMessage(1));
    EXPECT_EQ(-1, mobile.DeleteMessage(1));
    EXPECT_EQ(-1, mobile.SendMessage("+4917", "hi", KIND_TEXT));
    EXPECT_EQ(-1, mobile.PollEvents());
    EXPECT_TRUE(rig.device->m_calls.empty());
    EXPECT_EQ(0, rig.device->m_opens);
}

TEST_F(GuardFixture, OperationFinishingDuringTheWaitLetsTheCallerIn) {
    rig.device->m_answers["AT+CSQ\r"] = "+CSQ: 9,0\r\n\r\nOK\r\n";
    mobile.m_bBusy = 1;
    int slices = 0;
    rig.clock.m_onSleep = [&] {
        if (++slices == 5) mobile.m_bBusy = 0;
    };
    EXPECT_EQ(9, mobile.GetSignalQuality());
    EXPECT_EQ(5, slices);
    EXPECT_EQ(0, mobile.m_bBusy);
}

TEST_F(GuardFixture, CallReenteredFromAMessageDispatchedDuringTheWaitIsRefusedAtOnce) {
    mobile.m_bBusy = 1;
    std::string reentered = "not called";
    long long reenteredTook = -1;
    rig.clock.m_onPump = [&] {
        if (reentered != "not called") return;
        const long long before = rig.clock.m_now;
        reentered = mobile.GetImei();
        reenteredTook = rig.clock.m_now - before;
    };
    EXPECT_EQ(-1, mobile.GetBatteryLevel());
    EXPECT_EQ("", reentered);
    EXPECT_EQ(0, reenteredTook);  // no second wait
    EXPECT_TRUE(rig.device->m_calls.empty());
}

TEST_F(GuardFixture, CallReenteredFromInsideAnExchangeIsRefused) {
    rig.device->m_answers["AT+CBC\r"] = "+CBC: 0,85\r\n\r\nOK\r\n";
    int inner = 0;
    rig.device->m_onExchange = [&](const std::string& command) {
        if (command == "AT+CBC\r") inner = mobile.GetSignalQuality();
    };
    EXPECT_EQ(85, mobile.GetBatteryLevel());
    EXPECT_EQ(-1, inner);
    EXPECT_EQ(0, rig.device->CountOf("AT+CSQ\r"));
    EXPECT_EQ(0, mobile.m_bBusy);
}

TEST_F(GuardFixture, StopRequestEndsTheWaitEarly) {
    mobile.m_bBusy = 1;
    rig.clock.m_stop = true;
    const long long start = rig.clock.m_now;
    EXPECT_EQ(-1, mobile.GetBatteryLevel());
    EXPECT_EQ(0, rig.clock.m_now - start);
}

}  // namespace
