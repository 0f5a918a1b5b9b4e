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
        "AT+CPIN?\r", "AT+CGSN\r", "AT+CGMI\r", "AT+CGMM\r", "AT+CLIP=1\r", "AT+CMGF=0\r", "AT+CSMS=1\r", "AT+CNMI=?\r",
        "AT+CNMI=2,3,0,1,0\r", "AT+CSCS=?\r", "AT+CSCS=\"UCS2\"\r", "AT+CPMS?\r", "AT+CPMS=?\r"};
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
    device.m_queued["AT+CPIN?\r"] = {"+CPIN: SIM PIN\r\n\r\nOK\r\n"};
    ASSERT_EQ(1, mobile.Connect());
    struct Step {
        const char* command;
        const char* extra;
        int timeoutMs;
    };
    for (const Step& s : {Step{"AT\r", "", 500}, Step{"AT&F\r", "OK", 5000}, Step{"ATE1\r", "OK", 2000},
                          Step{"AT+CPIN?\r", "OK", 5000}, Step{"AT+CPIN=\"1234\"\r", "OK", 15000}, Step{"AT+CGSN\r", "", 2000},
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
    EXPECT_EQ(3, device.m_lines[1].beforeCall);  // after two probes and the ESC, before the third
    EXPECT_NE(nullptr, device.Find("AT+CMGF=0\r"));
}

TEST_F(InitFixture, LinesDropBeforeTheFifthProbe) {
    device.m_queued["AT\r"] = {"", "", "", "", "OK\r\n"};
    EXPECT_EQ(1, mobile.Connect());
    ASSERT_EQ(3u, device.m_lines.size());
    EXPECT_EQ(0, device.m_lines[2].flags);
    EXPECT_EQ(5, device.m_lines[2].beforeCall);  // four probes and the ESC
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
    EXPECT_EQ(7u, device.m_calls.size());  // and one ESC
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

TEST_F(InitFixture, PinIsGivenAndTheSimWaitedForBeforeTheMessageSettings) {
    mobile.m_strPin = "1234";
    device.m_queued["AT+CPIN?\r"] = {"+CPIN: SIM PIN\r\n\r\nOK\r\n"};
    device.m_queued["AT+CPMS?\r"] = {"+CMS ERROR: 314\r\n", "+CMS ERROR: 314\r\n"};
    const long long start = rig.clock.m_now;
    EXPECT_EQ(1, mobile.Connect());
    const std::vector<std::string> sent = Sent();
    const auto pin = std::find(sent.begin(), sent.end(), "AT+CPIN=\"1234\"\r");
    ASSERT_NE(sent.end(), pin);
    // Two busy answers, then ready; only then the identity and the message settings.
    EXPECT_EQ((std::vector<std::string>{"AT+CPMS?\r", "AT+CPMS?\r", "AT+CPMS?\r", "AT+CGSN\r"}),
              std::vector<std::string>(pin + 1, pin + 5));
    EXPECT_EQ(2000, rig.clock.m_now - start);  // one second after each busy answer
    EXPECT_EQ("SM", mobile.m_strStorage);
}

TEST_F(InitFixture, SimBusyAnswerIsRepeatedOnceTheSimIsReady) {
    device.m_queued["AT+CNMI=2,3,0,1,0\r"] = {"+CMS ERROR: 314\r\n"};
    device.m_queued["AT+CPMS?\r"] = {"+CMS ERROR: 314\r\n"};
    EXPECT_EQ(1, mobile.Connect());
    const std::vector<std::string> sent = Sent();
    const auto cnmi = std::find(sent.begin(), sent.end(), "AT+CNMI=2,3,0,1,0\r");
    ASSERT_NE(sent.end(), cnmi);
    EXPECT_EQ((std::vector<std::string>{"AT+CPMS?\r", "AT+CPMS?\r", "AT+CNMI=2,3,0,1,0\r", "AT+CSCS=?\r"}),
              std::vector<std::string>(cnmi + 1, cnmi + 5));
}

TEST_F(InitFixture, SimStillBusyAfterTheBoundedWaitFailsTheConnect) {
    mobile.m_strPin = "1234";
    device.m_queued["AT+CPIN?\r"] = {"+CPIN: SIM PIN\r\n\r\nOK\r\n"};
    device.m_answers["AT+CPMS?\r"] = "+CME ERROR: 14\r\n";
    const long long start = rig.clock.m_now;
    EXPECT_EQ(-1, mobile.Connect());
    EXPECT_EQ(SIM_NOT_READY, mobile.m_nSimState);
    EXPECT_EQ(30, device.CountOf("AT+CPMS?\r"));
    EXPECT_LE(rig.clock.m_now - start, 30000);
    EXPECT_EQ(nullptr, device.Find("AT+CMGF=0\r"));
    EXPECT_EQ(1, device.m_closes);
}

// What the SIM answers to AT+CPIN? decides whether the PIN is presented; a refused PIN is
// remembered and not presented again until the PIN setting changes.
TEST(SimUnlock, PinOnlyWhenAskedForAndNeverARefusedOneAgain) {
    const std::string pinState = "+CPIN: SIM PIN\r\n\r\nOK\r\n", pukState = "+CPIN: SIM PUK\r\n\r\nOK\r\n";
    const std::string ready = "+CPIN: READY\r\n\r\nOK\r\n", refused = "+CME ERROR: 16\r\n";
    struct Case {
        const char* name;
        std::deque<std::string> cpinStates;  // successive answers to AT+CPIN?
        std::string pin, refusedBefore, pinAnswer;
        int result, simState, presented;
        std::string refusedAfter;
    };
    const Case cases[] = {
        {"ready", {ready}, "1234", "", "OK\r\n", 1, SIM_READY, 0, ""},
        {"asks, accepted", {pinState}, "1234", "", "OK\r\n", 1, SIM_READY, 1, ""},
        {"asks, none configured", {pinState}, "", "", "", -1, SIM_PIN_MISSING, 0, ""},
        {"asks, refused", {pinState, pinState}, "0000", "", refused, -1, SIM_PIN_REFUSED, 1, "0000"},
        {"refused before", {pinState}, "0000", "0000", refused, -1, SIM_PIN_REFUSED, 0, "0000"},
        {"setting changed", {pinState}, "1234", "0000", "OK\r\n", 1, SIM_READY, 1, ""},
        {"last try used", {pinState, pukState}, "0000", "", refused, -1, SIM_PUK_REQUIRED, 1, "0000"},
        {"late OK", {pinState, ready}, "1234", "", "", 1, SIM_READY, 1, ""},
        {"puk", {pukState}, "1234", "", "", -1, SIM_PUK_REQUIRED, 0, ""},
        {"not inserted", {"+CME ERROR: 10\r\n"}, "1234", "", "", -1, SIM_NOT_READY, 0, ""},
        {"other lock", {"+CPIN: PH-SIM PIN\r\n\r\nOK\r\n"}, "1234", "", "", -1, SIM_NOT_READY, 0, ""},
        {"query unknown", {"ERROR\r\n"}, "1234", "", "", 1, SIM_READY, 0, ""},
    };
    for (const Case& c : cases) {
        ScriptedMobile rig;
        rig.AnswerLikeAModem();
        rig.device->m_open = false;
        rig.device->m_queued["AT+CPIN?\r"] = c.cpinStates;
        rig.device->m_answers["AT+CPIN?\r"] = c.cpinStates.back();
        rig.device->m_answers["AT+CPIN=\"" + c.pin + "\"\r"] = c.pinAnswer;
        rig.mobile->m_strPin = c.pin;
        rig.mobile->m_strRefusedPin = c.refusedBefore;
        EXPECT_EQ(c.result, rig.mobile->Connect()) << c.name;
        EXPECT_EQ(c.simState, rig.mobile->m_nSimState) << c.name;
        EXPECT_EQ(c.presented, rig.device->CountOf("AT+CPIN=\"" + c.pin + "\"\r")) << c.name;
        EXPECT_EQ(c.refusedAfter, rig.mobile->m_strRefusedPin) << c.name;
        EXPECT_EQ(c.result == 1, rig.device->Find("AT+CMGF=0\r") != nullptr) << c.name;  // nothing configured
    }
}

TEST(CnmiCandidates, ChosenCommandFirstThenStoredIndicationsModeTwoBeforeOne) {
    struct Case {
        const char* reply;
        std::vector<std::string> first;  // the leading candidates
        size_t count;
    };
    const Case cases[] = {
        {"+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n",
         {"AT+CNMI=2,3,0,1,0\r", "AT+CNMI=2,1,0,1,0\r", "AT+CNMI=2,1,0,1\r", "AT+CNMI=2,1,0,2,0\r"}, 13},
        {"+CNMI: (0-2),(0-3),(0,2),(0-2)\r\n\r\nOK\r\n",
         {"AT+CNMI=2,3,0,1,3\r", "AT+CNMI=2,1,0,1\r", "AT+CNMI=2,1,0,2\r", "AT+CNMI=2,1,0,0\r",
          "AT+CNMI=1,1,0,1\r"}, 7},
        {"+CNMI: (0,1),(0,2),(1),(0)\r\n\r\nOK\r\n", {"AT+CNMI=1,2,1,0,3\r", "AT+CNMI=1,2,,0\r"}, 2},
        {"+CNMI: (0-2),(0-3)\r\n\r\nOK\r\n", {"AT+CNMI=\r"}, 1},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> got = CMobile::CnmiCandidates(c.reply);
        ASSERT_GE(got.size(), c.first.size()) << c.reply;
        EXPECT_EQ(c.first, std::vector<std::string>(got.begin(), got.begin() + c.first.size())) << c.reply;
        EXPECT_EQ(c.count, got.size()) << c.reply;
    }
}

TEST_F(InitFixture, RefusedCnmiFallsBackToAnAcceptedOne) {
    device.m_answers["AT+CNMI=2,3,0,1,0\r"] = "+CMS ERROR: 303\r\n";
    device.m_answers["AT+CNMI=2,1,0,1\r"] = "OK\r\n";
    EXPECT_EQ(1, mobile.Connect());
    const std::vector<std::string> sent = Sent();
    const auto first = std::find(sent.begin(), sent.end(), "AT+CNMI=2,3,0,1,0\r");
    ASSERT_NE(sent.end(), first);
    EXPECT_EQ((std::vector<std::string>{"AT+CNMI=2,1,0,1,0\r", "AT+CNMI=2,1,0,1\r", "AT+CSCS=?\r"}),
              std::vector<std::string>(first + 1, first + 4));
}

TEST_F(InitFixture, NoSimCommandsWithoutAPinRequest) {
    device.m_answers["AT+CPMS?\r"] = "+CME ERROR: 11\r\n";
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_EQ(1, device.CountOf("AT+CPMS?\r"));
    for (const std::string& c : Sent()) EXPECT_EQ(std::string::npos, c.find("CPIN=")) << c;
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
    device.m_answers["AT+CNMI=2,1,0,1\r"] = "OK\r\n";
    EXPECT_EQ(1, mobile.Connect());
    EXPECT_EQ(1, mobile.Disconnect());
    theLog.SetEnabled(0);
    const std::string log = ReadFile(dir.file("Pellwick.log"));
    size_t at = 0;
    for (const char* line : {"CMobile::Connect()\r\n", "CodePage=", "CConnection::Connect()\r\n",
                             "CNMI Error: AT+CNMI=2,3,0,1,3", "CNMI: AT+CNMI=2,1,0,1", "CMobile::Connect()=1\r\n",
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
