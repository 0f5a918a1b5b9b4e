#include "ScriptedTransport.h"
#include "link/LogFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

const std::string CTRL_Z = "\x1A";
const std::string ESC = "\x1B";

std::string LongText() {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "segment" + std::to_string(i % 10) + " ";
    return text;  // 360 characters: three concatenated parts
}

struct SubmitFixture : ::testing::Test {
    ScriptedMobile rig;
    CMobile& mobile = *rig.mobile;
    ScriptedTransport& device = *rig.device;

    void SetUp() override {
        device.m_answers["AT\r"] = "OK\r\n";
        device.m_answers["AT+CMGF=0\r"] = "OK\r\n";
        device.m_fallback = "ERROR\r\n";
        // Every AT+CMGS gets the prompt and every PDU the reference 17, unless queued otherwise.
        device.m_onExchange = [this](const std::string& command) {
            if (command.rfind("AT+CMGS=", 0) == 0 && !device.m_answers.count(command))
                device.m_answers[command] = "> ";
            if (command.size() > 1 && command.back() == '\x1A' && !device.m_answers.count(command))
                device.m_answers[command] = "+CMGS: 17\r\n\r\nOK\r\n";
        };
    }
    std::string Pdu(int i) const { return mobile.m_pdu.m_pdusOut.at(static_cast<size_t>(i)); }
    static std::string CmgsFor(const std::string& pdu) {
        return "AT+CMGS=" + std::to_string(pdu.size() / 2 - 1) + "\r";
    }
    std::vector<const ScriptedTransport::Call*> CallsStartingWith(const std::string& start) const {
        std::vector<const ScriptedTransport::Call*> out;
        for (const auto& c : device.m_calls)
            if (c.command.rfind(start, 0) == 0) out.push_back(&c);
        return out;
    }
};

TEST_F(SubmitFixture, SinglePduReturnsTheModemsReference) {
    const long long start = rig.clock.m_now;
    EXPECT_EQ(17, mobile.SendMessage("+491701234567", "Hello", KIND_TEXT));
    ASSERT_EQ(1, mobile.m_pdu.m_nSegmentCount);
    const std::string pdu = Pdu(0);
    EXPECT_EQ((std::vector<std::string>{"AT\r", CmgsFor(pdu), pdu + CTRL_Z}), device.Commands());
    const ScriptedTransport::Call& cmgs = device.m_calls[1];
    EXPECT_EQ(">", cmgs.extra);
    EXPECT_EQ(20000, cmgs.timeoutMs);
    EXPECT_EQ(90000, device.m_calls[2].timeoutMs);  // the network may take long to answer
    EXPECT_EQ(5000, device.m_calls[0].timeoutMs);
    EXPECT_EQ(0, cmgs.atMs - start);  // the first submission goes at once
    EXPECT_EQ(17, mobile.SendMessage("+491701234567", "Hello", KIND_TEXT));
    EXPECT_EQ(3000, device.m_calls[4].atMs - device.m_calls[2].atMs);  // the next one waits the interval
    EXPECT_EQ(0, mobile.m_bBusy);
}

TEST_F(SubmitFixture, RecordIsFilledFromTheDriverSettings) {
    mobile.m_nValidityMinutes = 60;
    mobile.m_bReportRequest = 0;
    EXPECT_EQ(17, mobile.SendMessage("0170123", "Hi", KIND_CLASSED));
    EXPECT_EQ("0170123", mobile.m_pdu.m_strPhone);
    EXPECT_EQ("Hi", mobile.m_pdu.m_strText);
    EXPECT_EQ(60, mobile.m_pdu.m_nValidityMinutes);
    EXPECT_EQ(0, mobile.m_pdu.m_bReportRequest);
    EXPECT_EQ(KIND_CLASSED, mobile.m_pdu.m_nKind);
}

TEST_F(SubmitFixture, UnusableArgumentsSendNothing) {
    EXPECT_EQ(-1, mobile.SendMessage("", "text", KIND_TEXT));
    EXPECT_EQ(-1, mobile.SendMessage("+4917", "", KIND_TEXT));
    EXPECT_EQ(-1, mobile.SendMessage("+4917", "text", 0));
    EXPECT_EQ(-1, mobile.SendMessage("+4917", "text", KIND_STATUS_REPORT));
    EXPECT_TRUE(device.m_calls.empty());
}

TEST_F(SubmitFixture, PromptFailureIsRetriedAfterPduModeAndALongerPause) {
    mobile.SetRetryInterval(3);
    device.m_onExchange = [this](const std::string& command) {
        if (command.rfind("AT+CMGS=", 0) == 0 && !device.m_queued.count(command))
            device.m_queued[command] = {"+CMS ERROR: 500\r\n", "> "};
        if (command.back() == '\x1A') device.m_answers[command] = "+CMGS: 9\r\n\r\nOK\r\n";
    };
    EXPECT_EQ(9, mobile.SendMessage("+491701234567", "Hello", KIND_TEXT));
    const std::string cmgs = CmgsFor(Pdu(0));
    EXPECT_EQ((std::vector<std::string>{"AT\r", cmgs, "AT+CMGF=0\r", "AT\r", cmgs, Pdu(0) + CTRL_Z}),
              device.Commands());
    EXPECT_EQ(4000, device.m_calls[4].atMs - device.m_calls[1].atMs);  // 4 s from the failure
    EXPECT_EQ(2000, device.m_calls[2].timeoutMs);
}

TEST_F(SubmitFixture, SilentModemGetsEscAndTheAttemptFails) {
    device.m_answers["AT\r"] = "";
    EXPECT_EQ(-1, mobile.SendMessage("+4917", "x", KIND_TEXT));
    EXPECT_EQ((std::vector<std::string>{"AT\r", ESC, "AT+CMGF=0\r", "AT\r", ESC, "AT+CMGF=0\r", "AT\r", ESC}),
              device.Commands());
    EXPECT_EQ(2000, device.m_calls[1].timeoutMs);
}

TEST_F(SubmitFixture, MissingPromptIsLeftWithEscBeforeAnythingElse) {
    device.m_onExchange = [this](const std::string& command) {
        if (command.rfind("AT+CMGS=", 0) == 0 && !device.m_queued.count(command)) device.m_queued[command] = {"", "> "};
        if (command.back() == '\x1A') device.m_answers[command] = "+CMGS: 4\r\n\r\nOK\r\n";
    };
    EXPECT_EQ(4, mobile.SendMessage("+4917", "x", KIND_TEXT));
    const std::string cmgs = CmgsFor(Pdu(0));
    EXPECT_EQ((std::vector<std::string>{"AT\r", cmgs, ESC, "AT+CMGF=0\r", "AT\r", cmgs, Pdu(0) + CTRL_Z}),
              device.Commands());
}

// Once the PDU and Ctrl-Z are written, only a refusal lets the same PDU go again.
TEST_F(SubmitFixture, AnswerToThePduDecidesWhetherItMayGoAgain) {
    struct Case {
        std::vector<std::string> answers;  // to the PDU of segment 0, in turn
        int result;
        int submissions;   // of segment 0
        int laterSegments; // PDUs of segments 1 and 2 written
    } cases[] = {
        {{"+CMGS: 17\r\n\r\nOK\r\n"}, 17, 1, 2},
        {{"OK\r\n"}, 17, 1, 2},  // accepted without a reference (0); the last segment names 17
        {{"+CMS ERROR: 500\r\n", "+CMGS: 8\r\n\r\nOK\r\n"}, 17, 2, 2},
        {{"+CMS ERROR: 500\r\n", "ERROR\r\n", "+CMS ERROR: 38\r\n"}, -1, 3, 0},
        {{""}, SUBMIT_UNKNOWN, 1, 0},                    // no final result within the limit
        {{"+CMGS: 3\r\n"}, SUBMIT_UNKNOWN, 1, 0},      // the reference but never the OK
    };
    for (const auto& c : cases) {
        ScriptedMobile fresh;
        ScriptedTransport& d = *fresh.device;
        d.m_answers["AT\r"] = "OK\r\n";
        d.m_fallback = "OK\r\n";
        std::string first;
        d.m_onExchange = [&](const std::string& command) {
            if (command.rfind("AT+CMGS=", 0) == 0) d.m_answers[command] = "> ";
            if (command.back() != '\x1A' || d.m_answers.count(command) || d.m_queued.count(command)) return;
            if (first.empty()) {
                first = command;
                d.m_queued[command] = {c.answers.begin(), c.answers.end()};
            } else {
                d.m_answers[command] = "+CMGS: 17\r\n\r\nOK\r\n";
            }
        };
        EXPECT_EQ(c.result, fresh.mobile->SendMessage("+491701234567", LongText(), KIND_LONG)) << c.answers[0];
        const auto& pdus = fresh.mobile->m_pdu.m_pdusOut;
        EXPECT_EQ(c.submissions, d.CountOf(pdus.at(0) + CTRL_Z)) << c.answers[0];
        EXPECT_EQ(c.laterSegments, d.CountOf(pdus.at(1) + CTRL_Z) + d.CountOf(pdus.at(2) + CTRL_Z)) << c.answers[0];
    }
}

TEST_F(SubmitFixture, SilentAttemptDoesNotMoveTheLastSubmissionTime) {
    device.m_queued["AT\r"] = {"", "OK\r\n"};
    auto answer = device.m_onExchange;
    device.m_onExchange = [&](const std::string& command) {
        answer(command);
        if (command == "AT\r" || command == ESC) rig.clock.m_now += 5000;  // each waits out its time-out
    };
    const long long start = rig.clock.m_now;
    EXPECT_EQ(17, mobile.SendMessage("+4917", "x", KIND_TEXT));
    const auto cmgs = CallsStartingWith("AT+CMGS=");
    ASSERT_EQ(1u, cmgs.size());
    // (1 + 3) s had passed since the first submission call long before: no further pause.
    EXPECT_EQ(start + 15000, cmgs[0]->atMs);
}

TEST_F(SubmitFixture, SingleAttemptEndsTheMessageAtTheFirstFailure) {
    mobile.SetSendAttempts(1);
    device.m_onExchange = [this](const std::string& command) {
        if (command.rfind("AT+CMGS=", 0) == 0) device.m_answers[command] = "> ";
        if (command.back() == '\x1A') device.m_answers[command] = "+CMS ERROR: 500\r\n";
    };
    EXPECT_EQ(-1, mobile.SendMessage("+4917", "x", KIND_TEXT));
    EXPECT_EQ(1u, CallsStartingWith("AT+CMGS=").size());
    EXPECT_EQ(0, device.CountOf("AT+CMGF=0\r"));
}

TEST_F(SubmitFixture, LongMessageSegmentsAreSpacedByTheRetryInterval) {
    mobile.SetRetryInterval(2);
    EXPECT_EQ(17, mobile.SendMessage("+491701234567", LongText(), KIND_LONG));
    ASSERT_EQ(3, mobile.m_pdu.m_nSegmentCount);
    const auto cmgs = CallsStartingWith("AT+CMGS=");
    ASSERT_EQ(3u, cmgs.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CmgsFor(Pdu(i)), cmgs[static_cast<size_t>(i)]->command);
        EXPECT_EQ(1, device.CountOf(Pdu(i) + CTRL_Z));
    }
    EXPECT_EQ(2000, cmgs[1]->atMs - cmgs[0]->atMs);
    EXPECT_EQ(2000, cmgs[2]->atMs - cmgs[1]->atMs);
}

TEST_F(SubmitFixture, FailedSegmentAbandonsTheRest) {
    device.m_onExchange = [&](const std::string& command) {
        if (command.rfind("AT+CMGS=", 0) == 0) device.m_answers[command] = "> ";
        if (command.back() == '\x1A')
            device.m_answers[command] = command == Pdu(1) + CTRL_Z ? "+CMS ERROR: 500\r\n" : "+CMGS: 3\r\n\r\nOK\r\n";
    };
    EXPECT_EQ(-1, mobile.SendMessage("+491701234567", LongText(), KIND_LONG));
    ASSERT_EQ(3, mobile.m_pdu.m_nSegmentCount);
    EXPECT_EQ(1, device.CountOf(Pdu(0) + CTRL_Z));
    EXPECT_EQ(3, device.CountOf(Pdu(1) + CTRL_Z));
    EXPECT_EQ(0, device.CountOf(Pdu(2) + CTRL_Z));
}

TEST_F(SubmitFixture, StoreModeWritesWithoutThePause) {
    mobile.m_pdu.m_strPhone = "+4917";
    mobile.m_pdu.m_strText = "x";
    mobile.m_pdu.m_nKind = KIND_TEXT;
    ASSERT_EQ(PDU_OK, mobile.m_pdu.EncodeText());
    const std::string cmgw = "AT+CMGW=" + std::to_string(Pdu(0).size() / 2 - 1) + "\r";
    device.m_answers[cmgw] = "> ";
    device.m_answers[Pdu(0) + CTRL_Z] = "+CMGW: 4\r\n\r\nOK\r\n";
    const long long start = rig.clock.m_now;
    EXPECT_EQ(4, mobile.SubmitPdus(0));
    EXPECT_EQ((std::vector<std::string>{"AT\r", cmgw, Pdu(0) + CTRL_Z}), device.Commands());
    EXPECT_EQ(start, device.m_calls[1].atMs);
}

TEST_F(SubmitFixture, StopRequestCutsThePauseShort) {
    mobile.SendMessage("+4917", "x", KIND_TEXT);
    rig.clock.m_stop = true;
    const long long start = rig.clock.m_now;
    mobile.SendMessage("+4917", "x", KIND_TEXT);
    EXPECT_LT(rig.clock.m_now - start, 3000);
}

TEST_F(SubmitFixture, LogNamesEveryFailure) {
    TempDir dir;
    theLog.SetFileName(dir.file("Pellwick.log"));
    theLog.SetEnabled(1);
    device.m_onExchange = [this](const std::string& command) {
        if (command.rfind("AT+CMGS=", 0) == 0 && !device.m_queued.count(command))
            device.m_queued[command] = {"ERROR\r\n", "> ", "> "};
        if (command.back() == '\x1A' && !device.m_queued.count(command))
            device.m_queued[command] = {"+CMS ERROR: 500\r\n", ""};
        if (command == "AT\r" && !device.m_queued.count(command)) device.m_queued[command] = {"", "OK\r\n"};
    };
    mobile.SetSendAttempts(5);
    EXPECT_EQ(SUBMIT_UNKNOWN, mobile.SendMessage("+4917", "x", KIND_TEXT));
    theLog.SetEnabled(0);
    std::ifstream in(dir.file("Pellwick.log"), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string log = ss.str();
    size_t at = 0;
    for (const std::string line : {"SMSCount=1", "SMSSendTryTimes=1, times=0", "No Answer", "times=1",
                                   "Command=AT+CMGS=", "'>' Not Found", "times=2", " OK Not Found  +CMS ERROR: 500",
                                   "times=3", "No Final Result"}) {
        const size_t found = log.find(line, at);
        ASSERT_NE(std::string::npos, found) << line << " missing from\n" << log;
        at = found;
    }
}

}  // namespace
