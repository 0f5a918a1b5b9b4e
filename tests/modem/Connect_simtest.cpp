#include "SimRig.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

int Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

TEST(SimConnect, GenericModemIsReadyAndAnswersItsValues) {
    SimRig rig;
    ASSERT_EQ(1, rig.mobile->Connect());
    EXPECT_EQ("MODEMSIM", rig.mobile->m_strManufacturer);
    EXPECT_EQ("MS-100", rig.mobile->m_strModel);
    EXPECT_EQ("UCS2", rig.mobile->m_strCharset);
    EXPECT_EQ("SM", rig.mobile->m_strStorage);
    EXPECT_EQ("MODEMSIM", rig.mobile->GetManufacturer());
    EXPECT_EQ("MS-100", rig.mobile->GetModel());
    EXPECT_EQ("351234567890123", rig.mobile->GetImei());
    EXPECT_EQ(85, rig.mobile->GetBatteryLevel());
    EXPECT_EQ(17, rig.mobile->GetSignalQuality());
    EXPECT_EQ("0", rig.State("cmgf"));
    EXPECT_EQ("UCS2", rig.State("cscs"));

    const std::string log = rig.Log();
    size_t at = 0;
    for (const char* step : {"CMobile::Connect()", "CConnection::Connect()=1", "AT&F", "ATE1", "AT+CMGF=0",
                             "AT+CNMI=2,3,0,1,0", "AT+CSCS=\"UCS2\"", "CMobile::Connect()=1"}) {
        const size_t found = log.find(step, at);
        ASSERT_NE(std::string::npos, found) << step << " missing from\n" << log;
        at = found;
    }
}

TEST(SimConnect, ModemAnsweringOnlyTheFourthProbe) {
    SimRig rig("generic", {"--wake", "4"});
    ASSERT_EQ(1, rig.mobile->Connect());
    const std::vector<std::string> heard = rig.Heard();
    ASSERT_GE(heard.size(), 5u);
    // The ESC before the second probe ends any PDU input the modem was left in.
    EXPECT_EQ((std::vector<std::string>{"AT", "\x1B" "AT", "AT", "AT", "AT&F"}),
              std::vector<std::string>(heard.begin(), heard.begin() + 5));
}

// A gateway stopped between the prompt and the PDU leaves the modem waiting for PDU text:
// the next connect ends that input with ESC (nothing is sent) and goes on.
TEST(SimConnect, ModemLeftWaitingForPduTextIsFreedWithoutSending) {
    SimRig rig;
    ASSERT_EQ(1, rig.mobile->Connect());
    ASSERT_NE(std::string::npos, rig.mobile->SendCommand("AT+CMGS=20\r", ">", 2000).find('>'));
    rig.mobile->Disconnect();
    ASSERT_EQ(1, rig.mobile->Connect());
    const std::vector<std::string> submitted = rig.sim.Submitted();
    ASSERT_EQ(1u, submitted.size());
    EXPECT_NE(std::string::npos, submitted[0].find("\"result\":\"cancelled\"")) << submitted[0];
}

TEST(SimConnect, SilentModemFailsAndThePortIsFreedAgain) {
    SimRig rig;
    rig.sim.Control("FAULT SILENT 6");
    EXPECT_EQ(-1, rig.mobile->Connect());
    EXPECT_EQ(0, rig.mobile->Connection().IsOpen());
    EXPECT_EQ(1, rig.mobile->Connect());  // the modem answers again
}

TEST(SimConnect, PinIsGivenAndTheSimBecomesReady) {
    SimRig rig("generic", {"--pin", "4321"});
    rig.mobile->m_strPin = "4321";
    ASSERT_EQ(1, rig.mobile->Connect());
    EXPECT_EQ("READY", rig.State("pin"));
    EXPECT_EQ(1, Count(rig.Heard(), "AT+CPIN=\"4321\""));
    EXPECT_EQ("SM", rig.mobile->m_strStorage);
}

TEST(SimConnect, SimStartingUpIsWaitedFor) {
    SimRig rig("generic", {"--pin", "4321"});
    rig.mobile->m_strPin = "4321";
    rig.sim.Control("FAULT SIMBUSY 3");
    ASSERT_EQ(1, rig.mobile->Connect());
    EXPECT_GE(Count(rig.Heard(), "AT+CPMS?"), 2);
}

TEST(SimConnect, SonyEricssonGets8859) {
    SimRig rig("sonyericsson");
    ASSERT_EQ(1, rig.mobile->Connect());
    EXPECT_EQ("SONY ERICSSON", rig.mobile->m_strManufacturer);
    EXPECT_EQ("8859-1", rig.mobile->m_strCharset);
    EXPECT_EQ("8859-1", rig.State("cscs"));
}

TEST(SimConnect, WavecomGetsHex) {
    SimRig rig("wavecom");
    ASSERT_EQ(1, rig.mobile->Connect());
    EXPECT_EQ("HEX", rig.mobile->m_strCharset);
    EXPECT_EQ("MULTIBAND  900E  1800", rig.mobile->m_strModel);
}

TEST(SimConnect, E365IsTreatedAsMotorola) {
    SimRig rig("e365");
    ASSERT_EQ(1, rig.mobile->Connect());
    EXPECT_EQ("MOTOROLA", rig.mobile->m_strManufacturer);
    EXPECT_EQ("E365", rig.mobile->m_strModel);
    EXPECT_EQ(1, Count(rig.Heard(), "AT+GMI"));
}

TEST(SimConnect, FourGroupCnmiRefusesTheFifthParameterAndGetsFourValues) {
    SimRig rig("cnmi4");
    ASSERT_EQ(1, rig.mobile->Connect());
    EXPECT_EQ(1, Count(rig.Heard(), "AT+CNMI=2,3,0,1,3"));
    EXPECT_EQ(1, Count(rig.Heard(), "AT+CNMI=2,1,0,1"));
    EXPECT_EQ("2,1,0,1,0", rig.State("cnmi"));
    EXPECT_NE(std::string::npos, rig.Log().find("CNMI: AT+CNMI=2,1,0,1"));
}

TEST(SimConnect, ServiceCentreInTheCharacterSetForm) {
    SimRig rig;  // UCS2: the modem takes the number only as UCS2 hex
    ASSERT_EQ(1, rig.mobile->Connect());
    EXPECT_EQ(1, rig.mobile->SetServiceCentre("+49 171 0760000"));
    const std::vector<std::string> heard = rig.Heard();
    EXPECT_EQ(1, Count(heard, "AT+CSCA=\"+491710760000\""));
    EXPECT_EQ(1, Count(heard, "AT+CSCA=\"002B003400390031003700310030003700360030003000300030\""));
}

TEST(SimConnect, DisconnectClosesThePort) {
    SimRig rig;
    ASSERT_EQ(1, rig.mobile->Connect());
    EXPECT_EQ(1, rig.mobile->Disconnect());
    EXPECT_EQ(0, rig.mobile->Connection().IsOpen());
    EXPECT_EQ(-1, rig.mobile->GetBatteryLevel());
}

}  // namespace
