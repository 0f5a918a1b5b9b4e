#include "ScriptedTransport.h"
#include "link/LogFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

struct InitFixture : ::testing::Test {
    ScriptedMobile rig;
    CMobile& mobile = *rig.mobile;
    ScriptedTransport& device = *rig.device;
    void SetUp() override {
        rig.AnswerLikeAModem();
        device.m_open = false;
    }
    std::vector<std::string> Sent() const { return device.Commands(); }
};

TEST_F(InitFixture, ConnectRunsTheInitialisationDialogue) {
    EXPECT_EQ(1, mobile.Connect());
    const std::vector<std::string> expected = {
        "AT\r", "AT&F\r", "ATE1\r", "ATV1\r", "ATQ0\r", "ATX4\r", "AT+CMEE=1\r", "AT+CMER=1\r",
        "AT+CGSN\r", "AT+CGMI\r", "AT+CGMM\r", "AT+CLIP=1\r", "AT+CMGF=0\r", "AT+CNMI=?\r",
        "AT+CNMI=2,3,0,1,0\r", "AT+CSCS=?\r", "AT+CSCS=\"UCS2\"\r", "AT+CPMS?\r"};
    EXPECT_EQ(expected, Sent());
    EXPECT_EQ("MODEMSIM", mobile.m_strManufacturer);
    EXPECT_EQ("MS-100", mobile.m_strModel);
    EXPECT_EQ("UCS2", mobile.m_strCharset);
    EXPECT_EQ("SM", mobile.m_strStorage);
    EXPECT_EQ(0, mobile.m_bBusy);
    ASSERT_FALSE(device.m_lines.empty());
    EXPECT_EQ(3, device.m_lines[0].flags);  // both lines raised once the port is open
    EXPECT_EQ(0, device.m_lines[0].beforeCall);
}

TEST_F(InitFixture, TimeOutsAndTerminatorsPerStep) {
    mobile.m_strPin = "1234";
    ASSERT_EQ(1, mobile.Connect());
    struct Step {
        const char* command;
        const char* extra;
        int timeoutMs;
    };
    for (const Step& s : {Step{"AT\r", "", 500}, Step{"AT&F\r", "OK", 5000}, Step{"ATE1\r", "OK", 2000},
                          Step{"AT+CPIN=\"1234\"\r", "OK", 15000}, Step{"AT+CGSN\r", "", 2000},
                          Step{"AT+CMGF=0\r", "OK", 2000}, Step{"AT+CNMI=?\r", "OK", 2000},
                          Step{"AT+CSCS=?\r", "OK", 2000}, Step{"AT+CSCS=\"UCS2\"\r", "", 5000},
                          Step{"AT+CPMS?\r", "OK", 2000}}) {
        const ScriptedTransport::Call* call = device.Find(s.command);
        ASSERT_NE(nullptr, call) << s.command;
        EXPECT_EQ(s.extra, call->extra) << s.command;
        EXPECT_EQ(s.timeoutMs, call->timeoutMs) << s.command;
    }
}

TEST_F(InitFixture, ModemAnsweringOnlyTheFourthProbeGetsItsLinesRaisedFirst) {
    device.m_queued["AT\r"] = {"", "", "", "OK\r\n"};
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_EQ(4, device.CountOf("AT\r"));
    ASSERT_EQ(2u, device.m_lines.size());
    EXPECT_EQ(3, device.m_lines[1].flags);
    EXPECT_EQ(2, device.m_lines[1].beforeCall);  // after two probes, before the third
    EXPECT_NE(nullptr, device.Find("AT+CMGF=0\r"));
}

TEST_F(InitFixture, LinesDropBeforeTheFifthProbe) {
    device.m_queued["AT\r"] = {"", "", "", "", "OK\r\n"};
    EXPECT_EQ(1, mobile.Connect());
    ASSERT_EQ(3u, device.m_lines.size());
    EXPECT_EQ(0, device.m_lines[2].flags);
    EXPECT_EQ(4, device.m_lines[2].beforeCall);
}

TEST_F(InitFixture, InfraredLinkHasNoLinesToChange) {
    mobile.m_nConnectionMode = 0;
    ScriptedTransport& infrared = static_cast<ScriptedTransport&>(mobile.Connection().Infrared());
    infrared.m_answers = device.m_answers;
    infrared.m_queued["AT\r"] = {"", "", "", "OK\r\n"};
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_TRUE(infrared.m_lines.empty());
    EXPECT_TRUE(device.m_lines.empty());
    EXPECT_EQ(0, device.m_opens);
}

TEST_F(InitFixture, SilentModemFailsAfterSixProbesAndTheLinkIsClosed) {
    device.m_answers["AT\r"] = "";
    EXPECT_EQ(-1, mobile.Connect());
    EXPECT_EQ(6, device.CountOf("AT\r"));
    EXPECT_EQ(6u, device.m_calls.size());
    EXPECT_EQ(1, device.m_closes);
    EXPECT_EQ(0, mobile.m_bBusy);
}

TEST_F(InitFixture, LinkThatCannotBeOpenedSendsNothing) {
    device.m_openResult = -1;
    EXPECT_EQ(-1, mobile.Connect());
    EXPECT_TRUE(device.m_calls.empty());
    EXPECT_EQ(0, mobile.m_bBusy);
}

TEST_F(InitFixture, RefusedPduModeFailsTheConnection) {
    device.m_answers["AT+CMGF=0\r"] = "+CME ERROR: 3\r\n";
    EXPECT_EQ(-1, mobile.Connect());
    EXPECT_EQ("AT+CMGF=0\r", device.m_calls.back().command);
    EXPECT_EQ(1, device.m_closes);
}

TEST_F(InitFixture, RefusedConfigurationCommandsDoNotStopTheInitialisation) {
    for (const char* c : {"AT&F\r", "ATE1\r", "ATV1\r", "ATQ0\r", "ATX4\r", "AT+CMEE=1\r", "AT+CMER=1\r",
                          "AT+CLIP=1\r", "AT+CNMI=2,3,0,1,0\r", "AT+CSCS=\"UCS2\"\r"})
        device.m_answers[c] = "ERROR\r\n";
    EXPECT_EQ(1, mobile.Connect());
}

TEST_F(InitFixture, PinIsGivenAndTheSimWaitedFor) {
    mobile.m_strPin = "1234";
    device.m_queued["AT+CPMS?\r"] = {"+CPMS: \"SM\",1,30\r\n\r\nOK\r\n",  // the read-storage query
                                     "+CMS ERROR: 314\r\n", "+CMS ERROR: 314\r\n"};
    const long long start = rig.clock.m_now;
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_EQ(1, device.CountOf("AT+CPIN=\"1234\"\r"));
    EXPECT_EQ(4, device.CountOf("AT+CPMS?\r"));  // query, two busy answers, then ready
    EXPECT_EQ(2000, rig.clock.m_now - start);    // one second after each refusal
}

TEST_F(InitFixture, WrongPinStillEndsWithSuccessAfterTenSimChecks) {
    mobile.m_strPin = "0000";
    device.m_answers["AT+CPIN=\"0000\"\r"] = "+CME ERROR: 16\r\n";
    device.m_queued["AT+CPMS?\r"] = std::deque<std::string>(11, "+CME ERROR: 11\r\n");
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_EQ(11, device.CountOf("AT+CPMS?\r"));
    EXPECT_EQ("", mobile.m_strStorage);
}

TEST_F(InitFixture, EmptyPinSendsNoPinAndSkipsTheSimWait) {
    device.m_answers["AT+CPMS?\r"] = "+CME ERROR: 11\r\n";
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_EQ(1, device.CountOf("AT+CPMS?\r"));
    for (const std::string& c : Sent()) EXPECT_EQ(std::string::npos, c.find("CPIN")) << c;
}

TEST_F(InitFixture, IdentityFallsBackToTheSecondCommand) {
    device.m_answers["AT+CGMI\r"] = "ERROR\r\n";
    device.m_answers["AT+GMI\r"] = "ACME\r\n\r\nOK\r\n";
    device.m_answers["AT+CGMM\r"] = "OK\r\n";  // no field
    device.m_answers["AT+GMM\r"] = "ERROR\r\n";
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_EQ("ACME", mobile.m_strManufacturer);
    EXPECT_EQ("", mobile.m_strModel);
    EXPECT_EQ(1, device.CountOf("AT+GMM\r"));
}

TEST_F(InitFixture, CharacterSetAnswerCountsEvenWithoutOk) {
    device.m_answers["AT+CSCS=?\r"] = "+CSCS: (\"GSM\",\"8859-1\")\r\n";
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_EQ("8859-1", mobile.m_strCharset);
}

TEST_F(InitFixture, CnmiTestAnswerWithoutOkSendsNoCnmi) {
    device.m_answers["AT+CNMI=?\r"] = "ERROR\r\n";
    EXPECT_EQ(1, mobile.Connect());
    const std::vector<std::string> sent = Sent();
    EXPECT_EQ(0, std::count_if(sent.begin(), sent.end(), [](const std::string& c) {
                  return c.rfind("AT+CNMI=", 0) == 0 && c != "AT+CNMI=?\r";
              }));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST_F(InitFixture, LogShowsConnectAndARefusedCnmi) {
    TempDir dir;
    theLog.SetFileName(dir.file("Pellwick.log"));
    theLog.SetEnabled(1);
    device.m_answers["AT+CNMI=?\r"] = "+CNMI: (0-2),(0-3),(0,2),(0-2)\r\n\r\nOK\r\n";
    device.m_answers["AT+CNMI=2,3,0,1,3\r"] = "+CMS ERROR: 303\r\n";
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_EQ(1, mobile.Disconnect());
    theLog.SetEnabled(0);
    const std::string log = ReadFile(dir.file("Pellwick.log"));
    size_t at = 0;
    for (const char* line : {"CMobile::Connect()\r\n", "CodePage=", "CConnection::Connect()\r\n",
                             "CNMI Error: AT+CNMI=2,3,0,1,3", "CMobile::Connect()=1\r\n",
                             "CMobile::Disconnect()\r\n", "CConnection::Disconnect()=1\r\n",
                             "CMobile::Disconnect()=1\r\n"}) {
        const size_t found = log.find(line, at);
        ASSERT_NE(std::string::npos, found) << "missing or out of order: " << line << "\nlog:\n" << log;
        at = found + 1;
    }
}

TEST_F(InitFixture, StorageSelection) {
    device.m_open = true;
    device.m_answers["AT+CPMS=\"ME\"\r"] = "+CPMS: 0,100,0,30,0,30\r\n\r\nOK\r\n";
    EXPECT_EQ(1, mobile.SetStorage("ME"));
    EXPECT_EQ("ME", mobile.m_strStorage);
    EXPECT_EQ(-1, mobile.SetStorage("XX"));  // refused: storage unchanged
    EXPECT_EQ("ME", mobile.m_strStorage);
    const size_t sent = device.m_calls.size();
    EXPECT_EQ(-1, mobile.SetStorage(""));
    EXPECT_EQ(sent, device.m_calls.size());
}

TEST_F(InitFixture, ReadMemoryKeepsTheOldNameWhenTheQueryFails) {
    mobile.m_strStorage = "MT";
    device.m_answers["AT+CPMS?\r"] = "+CME ERROR: 10\r\n";
    EXPECT_EQ("", mobile.GetReadMemory());
    EXPECT_EQ("MT", mobile.m_strStorage);
}

}  // namespace
