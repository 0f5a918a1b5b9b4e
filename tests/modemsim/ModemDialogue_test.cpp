// The simulated modem's AT dialogue and its control requests, driven byte by byte as a
// client would, without the pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>

#include "Control.h"
#include "Modem.h"

using namespace modemsim;

namespace {

class Line : public ModemOutput {
public:
    void Echo(const std::string& bytes) override { text += bytes; }
    void Answer(const std::string& bytes) override { text += bytes; }
    std::string text;
};

class ModemSimDialogue : public ::testing::Test {
protected:
    explicit ModemSimDialogue(const char* profile = "generic") : modem(line, *FindProfile(profile)) {}

    // Sends bytes and returns everything written back.
    std::string Send(const std::string& bytes) {
        line.text.clear();
        modem.Input(bytes);
        return line.text;
    }
    // The same without echo.
    std::string At(const std::string& command) {
        Send("ATE0\r");
        return Send(command + "\r");
    }
    std::string Ctl(const std::string& request) { return HandleControl(modem, request).reply; }
    std::string State(const std::string& key) {
        for (const auto& l : modem.StateLines()) {
            if (l.rfind(key + "=", 0) == 0)
                return l.substr(key.size() + 1);
        }
        return "?";
    }

    Line line;
    Modem modem;
};

const std::string OK = "\r\nOK\r\n";

// The data lines of a control answer, without the final "OK".
std::vector<std::string> DataLines(const std::string& reply) {
    std::vector<std::string> lines;
    size_t start = 0, nl;
    while ((nl = reply.find('\n', start)) != std::string::npos) {
        lines.push_back(reply.substr(start, nl - start));
        start = nl + 1;
    }
    if (!lines.empty() && lines.back() == "OK")
        lines.pop_back();
    return lines;
}
const std::string ERROR = "\r\nERROR\r\n";

}  // namespace

TEST_F(ModemSimDialogue, EchoesAndAnswersFinalResults) {
    EXPECT_EQ(Send("AT\r"), "AT\r" + OK);
    EXPECT_EQ(Send("ATE0\r"), "ATE0\r" + OK);  // echo ends after this line
    EXPECT_EQ(Send("AT\r"), OK);
    EXPECT_EQ(Send("AT+CSQ\r"), "\r\n+CSQ: 17,99\r\n" + OK);
    EXPECT_EQ(Send("at+cbc\r"), "\r\n+CBC: 0,85\r\n" + OK);
    EXPECT_EQ(Send("AT+NOSUCH\r"), ERROR);
    EXPECT_EQ(Send("ATY\r"), ERROR);
    // Empty lines (commands ended with two CRs) and lines without AT get nothing.
    EXPECT_EQ(Send("\r"), "");
    EXPECT_EQ(Send("AT\r\r\n"), OK);
    EXPECT_EQ(Send("hello\r"), "");
    // A leading ESC is dropped; the rest is a command.
    EXPECT_EQ(Send("\x1b" "AT\r"), OK);
    // Backspace edits the line.
    EXPECT_EQ(Send("AT+CSX\bQ\r"), "\r\n+CSQ: 17,99\r\n" + OK);
}

TEST_F(ModemSimDialogue, RefusesOverlongLinesAndPdus) {
    At("AT+CMEE=1");
    EXPECT_EQ(Send("AT+CSQ" + std::string(10000, ';') + "+NOSUCH\r"), "\r\n+CSQ: 17,99\r\n" + OK)
        << "the tail beyond the line buffer is dropped";
    EXPECT_EQ(Send("AT+CGMI=" + std::string(10000, '1') + "\r"), ERROR);
    EXPECT_EQ(Send("AT+CMGS=177\r"), "\r\n+CMS ERROR: 304\r\n");  // longer than any TPDU
    // A PDU beyond the buffer is cut and so fails the length check.
    EXPECT_EQ(Send("AT+CMGS=176\r"), "\r\n> ");
    EXPECT_EQ(Send(std::string(5000, '0') + "\x1a"), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_EQ(Send("AT+CMGS=176\r"), "\r\n> ");
    EXPECT_EQ(Send(std::string(2 * 177, '0') + "\x1a"), "\r\n+CMGS: 0\r\n" + OK);
}

TEST_F(ModemSimDialogue, ChainsCommandsAndStopsAtTheFirstError) {
    EXPECT_EQ(At("AT+CMEE=1;+CREG=2"), OK);
    EXPECT_EQ(At("AT+CREG?"), "\r\n+CREG: 2,1,\"00A1\",\"1B2C\"\r\n" + OK);
    EXPECT_EQ(At("AT+CSQ;+NOSUCH;+CBC"), "\r\n+CSQ: 17,99\r\n" + ERROR);
    EXPECT_EQ(Send("ATE1V0\r"), "0\r");  // basic commands chained without separators
    EXPECT_EQ(State("echo"), "1");
    EXPECT_EQ(Send("ATE0+CMEE=2\r"), "ATE0+CMEE=2\r0\r");
    EXPECT_EQ(State("cmee"), "2");
}

TEST_F(ModemSimDialogue, FormatsErrorsByCmeeAndVerbosity) {
    struct Case {
        std::string setup, command, answer;
    };
    const Case cases[] = {
        {"AT+CMEE=0", "AT+CPMS=\"XX\"", ERROR},
        {"AT+CMEE=1", "AT+CPMS=\"XX\"", "\r\n+CMS ERROR: 302\r\n"},
        {"AT+CMEE=2", "AT+CPMS=\"XX\"", "\r\n+CMS ERROR: operation not allowed\r\n"},
        {"AT+CMEE=1", "AT+CSCS=\"KOI8\"", "\r\n+CME ERROR: 4\r\n"},
        {"AT+CMEE=1", "AT+NOSUCH", ERROR},  // unknown commands are plain ERROR
        {"ATV0", "AT", "0\r"},
        {"ATV0", "AT+NOSUCH", "4\r"},
        {"ATV0", "AT+CSQ", "+CSQ: 17,99\r\n0\r"},
        {"ATQ1", "AT+CSQ", "\r\n+CSQ: 17,99\r\n"},
        {"ATQ1", "AT+NOSUCH", ""},
        {"AT+CMEE=1", "AT+CMEE=3", "\r\n+CME ERROR: 4\r\n"},
        {"AT", "ATE2", ERROR},
    };
    for (const auto& c : cases) {
        Send("ATZ\r");
        At(c.setup);
        EXPECT_EQ(Send(c.command + "\r"), c.answer) << c.setup << " / " << c.command;
    }
}

TEST_F(ModemSimDialogue, AnswersIdentityAndStatusQueries) {
    EXPECT_EQ(At("AT+CGMI"), "\r\nMODEMSIM\r\n" + OK);
    EXPECT_EQ(At("AT+GMM"), "\r\nMS-100\r\n" + OK);
    EXPECT_EQ(At("AT+CGSN"), "\r\n351234567890123\r\n" + OK);
    EXPECT_EQ(At("AT+CIMI"), "\r\n262011234567890\r\n" + OK);
    EXPECT_EQ(Ctl("SET battery 1,42"), "OK\n");
    EXPECT_EQ(Ctl("SET signal 31,2"), "OK\n");
    EXPECT_EQ(Ctl("SET manufacturer Acme Mobile Works"), "OK\n");
    EXPECT_EQ(At("AT+CBC"), "\r\n+CBC: 1,42\r\n" + OK);
    EXPECT_EQ(At("AT+CSQ"), "\r\n+CSQ: 31,2\r\n" + OK);
    EXPECT_EQ(At("AT+CGMI"), "\r\nAcme Mobile Works\r\n" + OK);
    EXPECT_EQ(At("AT+COPS?"), "\r\n+COPS: 0,0,\"MODEMSIM NET\"\r\n" + OK);
    EXPECT_EQ(At("AT+CFUN?"), "\r\n+CFUN: 1\r\n" + OK);
    EXPECT_EQ(At("AT+CFUN=7"), ERROR);
    EXPECT_EQ(Ctl("SET signal 31"), "ERR signal needs <n>,<n>\n");
}

TEST_F(ModemSimDialogue, WithholdsTheSimUntilThePinIsGiven) {
    EXPECT_EQ(Ctl("PIN 1234"), "OK\n");
    At("AT+CMEE=1");
    EXPECT_EQ(At("AT+CPIN?"), "\r\n+CPIN: SIM PIN\r\n" + OK);
    EXPECT_EQ(At("AT+CPMS?"), "\r\n+CMS ERROR: 311\r\n");
    EXPECT_EQ(At("AT+CIMI"), "\r\n+CME ERROR: 11\r\n");
    EXPECT_EQ(At("AT+CMGS=10"), "\r\n+CMS ERROR: 311\r\n");  // no prompt
    EXPECT_EQ(At("AT+CSQ"), "\r\n+CSQ: 17,99\r\n" + OK);    // the radio answers anyway
    EXPECT_EQ(At("AT+CPIN=\"9999\""), "\r\n+CME ERROR: 16\r\n");
    EXPECT_EQ(State("pin"), "SIM PIN");
    EXPECT_EQ(At("AT+CPIN=\"1234\""), OK);
    EXPECT_EQ(At("AT+CPIN?"), "\r\n+CPIN: READY\r\n" + OK);
    EXPECT_EQ(At("AT+CPMS?"), "\r\n+CPMS: \"SM\",0,30,\"SM\",0,30,\"SM\",0,30\r\n" + OK);
    EXPECT_EQ(At("AT+CPIN=\"1234\""), "\r\n+CME ERROR: 3\r\n");  // nothing to unlock now
}

TEST_F(ModemSimDialogue, ReportsSimBusyAfterThePinForAWhile) {
    Ctl("PIN 0000");
    At("AT+CMEE=1");
    At("AT+CPIN=\"0000\"");
    EXPECT_EQ(Ctl("FAULT SIMBUSY 2"), "OK\n");
    EXPECT_EQ(At("AT+CPMS?"), "\r\n+CMS ERROR: 314\r\n");
    EXPECT_EQ(At("AT+CPMS?"), "\r\n+CMS ERROR: 314\r\n");
    EXPECT_NE(At("AT+CPMS?").find("+CPMS: \"SM\""), std::string::npos);
}

TEST_F(ModemSimDialogue, SimStartsUpForTheSimWaitTimeOnceThePinIsGiven) {
    Ctl("PIN 0000");
    At("AT+CMEE=1");
    EXPECT_EQ(Ctl("FAULT SIMWAIT 600000"), "OK\n");
    EXPECT_EQ(At("AT+CPMS?"), "\r\n+CMS ERROR: 311\r\n");
    At("AT+CPIN=\"0000\"");
    EXPECT_EQ(At("AT+CPIN?"), "\r\n+CPIN: READY\r\n" + OK);
    EXPECT_EQ(At("AT+CPMS?"), "\r\n+CMS ERROR: 314\r\n");
    EXPECT_EQ(At("AT+CNMI=2,1,0,0,0"), "\r\n+CMS ERROR: 314\r\n");
}

TEST_F(ModemSimDialogue, ThreeWrongPinsLockTheSimUntilThePuk) {
    Ctl("PIN 1234");
    At("AT+CMEE=1");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(At("AT+CPIN=\"9999\""), "\r\n+CME ERROR: 16\r\n");
    EXPECT_EQ(State("pin"), "SIM PUK");
    EXPECT_EQ(At("AT+CPIN?"), "\r\n+CPIN: SIM PUK\r\n" + OK);
    EXPECT_EQ(At("AT+CPMS?"), "\r\n+CMS ERROR: 316\r\n");
    EXPECT_EQ(At("AT+CPIN=\"1234\""), "\r\n+CME ERROR: 16\r\n");  // the right PIN no longer helps
    EXPECT_EQ(At("AT+CPIN=\"12345678\",\"4321\""), OK);
    EXPECT_EQ(State("pin"), "READY");
    EXPECT_EQ(State("pintries"), "3");
    EXPECT_EQ(Ctl("PIN 1234 tries=0"), "OK\n");
    EXPECT_EQ(State("pin"), "SIM PUK");
    EXPECT_EQ(Ctl("PIN 1234 tries=x"), "ERR PIN [<pin>] [tries=<0-9>]\n");
}

TEST_F(ModemSimDialogue, RegistrationStatesFromControl) {
    EXPECT_EQ(At("AT+CREG?"), "\r\n+CREG: 0,1\r\n" + OK);
    EXPECT_EQ(At("AT+CEREG?"), "\r\nERROR\r\n");  // no LTE unless asked for
    EXPECT_EQ(Ctl("SET creg 2"), "OK\n");
    EXPECT_EQ(Ctl("SET cereg 7"), "OK\n");
    EXPECT_EQ(At("AT+CREG?"), "\r\n+CREG: 0,2\r\n" + OK);
    EXPECT_EQ(At("AT+CEREG?"), "\r\n+CEREG: 0,7\r\n" + OK);
    EXPECT_EQ(Ctl("SET creg 11"), "ERR creg needs a registration stat 0..10\n");
    Ctl("PIN 1234");
    EXPECT_EQ(At("AT+CREG?"), "\r\n+CREG: 0,0\r\n" + OK);  // nothing without the SIM
}

TEST_F(ModemSimDialogue, SubmitsAPduAfterThePrompt) {
    At("AT+CMGF=0");
    // "00" service centre, then a 7-octet TPDU.
    EXPECT_EQ(At("AT+CMGS=8"), "\r\n> ");
    EXPECT_EQ(Send("00110003912143\r\n00 00\x1a"), "\r\n+CMGS: 0\r\n" + OK);
    EXPECT_EQ(Send("AT+CMGS=1\r"), "\r\n> ");
    EXPECT_EQ(Send("0011\x1a"), "\r\n+CMGS: 1\r\n" + OK);
    const auto subs = DataLines(Ctl("SUBMITTED"));
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_NE(subs[0].find("\"command\":\"AT+CMGS=8\",\"length\":8,\"pdu\":\"001100039121430000\","
                           "\"result\":\"ok\",\"mr\":0}"),
              std::string::npos)
        << subs[0];
}

TEST_F(ModemSimDialogue, RefusesAPduOfTheWrongLengthOrNotHex) {
    At("AT+CMEE=1");
    At("AT+CMGS=5");
    EXPECT_EQ(Send("0011000391\x1a"), "\r\n+CMS ERROR: 304\r\n");  // four octets after the SC part
    At("AT+CMGS=2");
    EXPECT_EQ(Send("0011XY\x1a"), "\r\n+CMS ERROR: 304\r\n");
    At("AT+CMGS=2");
    EXPECT_EQ(Send("0791\x1a"), "\r\n+CMS ERROR: 304\r\n");  // SC part longer than the PDU
    EXPECT_EQ(At("AT+CMGS=0"), "\r\n+CMS ERROR: 304\r\n");
    const auto subs = DataLines(Ctl("SUBMITTED"));
    ASSERT_EQ(subs.size(), 3u);
    for (const auto& s : subs)
        EXPECT_NE(s.find("\"result\":\"error\""), std::string::npos) << s;
    // The failures used no message reference.
    At("AT+CMGS=1");
    EXPECT_EQ(Send("0011\x1a"), "\r\n+CMGS: 0\r\n" + OK);
}

TEST_F(ModemSimDialogue, EscapeCancelsTheMessage) {
    At("AT+CMGS=1");
    EXPECT_EQ(Send("00\x1b"), OK);
    EXPECT_EQ(Send("AT\r"), OK);  // back in command mode
    const auto subs = DataLines(Ctl("SUBMITTED"));
    ASSERT_EQ(subs.size(), 1u);
    EXPECT_NE(subs[0].find("\"result\":\"cancelled\""), std::string::npos);
}

TEST_F(ModemSimDialogue, WritesToTheStoreAndReadsBack) {
    At("AT+CPMS=\"ME\",\"ME\",\"SM\"");
    EXPECT_EQ(At("AT+CMGW=1"), "\r\n> ");
    EXPECT_EQ(Send("0011\x1a"), "\r\n+CMGW: 1\r\n" + OK);
    EXPECT_EQ(At("AT+CMGR=1"), "\r\n+CMGR: 2,,1\r\n\r\n0011\r\n" + OK);
    EXPECT_EQ(At("AT+CPMS?"), "\r\n+CPMS: \"ME\",1,100,\"ME\",1,100,\"SM\",0,30\r\n" + OK);
}

TEST_F(ModemSimDialogue, KeepsStoresAndListsReadsAndDeletesThem) {
    At("AT+CMEE=1");
    EXPECT_EQ(Ctl("DELIVER via=silent text=one"), "STORED SM 1\nOK\n");
    EXPECT_EQ(Ctl("DELIVER via=silent text=two"), "STORED SM 2\nOK\n");
    EXPECT_EQ(Ctl("REPORT via=silent mr=9"), "STORED SM 3\nOK\n");
    const auto listed = DataLines(Ctl("LIST SM"));
    ASSERT_EQ(listed.size(), 3u);
    const std::string pdu1 = listed[0].substr(listed[0].find("\"pdu\":\"") + 7, listed[0].rfind('"') -
                                                                                  listed[0].find("\"pdu\":\"") - 7);
    const std::string len1 = std::to_string(pdu1.size() / 2 - 8);  // minus the 8 SC octets

    EXPECT_EQ(At("AT+CPMS?"), "\r\n+CPMS: \"SM\",3,30,\"SM\",3,30,\"SM\",3,30\r\n" + OK);
    EXPECT_EQ(At("AT+CMGR=1"), "\r\n+CMGR: 0,," + len1 + "\r\n\r\n" + pdu1 + "\r\n" + OK);
    EXPECT_EQ(At("AT+CMGR=1").substr(0, 11), "\r\n+CMGR: 1,");  // read now
    EXPECT_EQ(At("AT+CMGR=4"), OK);                                // empty place
    EXPECT_EQ(At("AT+CMGR=31"), "\r\n+CMS ERROR: 321\r\n");
    // Unread only (the default), then all.
    std::string unread = At("AT+CMGL");
    EXPECT_EQ(unread.find("+CMGL: 1,"), std::string::npos);
    EXPECT_NE(unread.find("+CMGL: 2,0,,"), std::string::npos);
    EXPECT_NE(unread.find("+CMGL: 3,0,,"), std::string::npos);
    EXPECT_EQ(At("AT+CMGL=0"), OK);  // nothing unread is left
    const std::string all = At("AT+CMGL=4");
    EXPECT_NE(all.find("+CMGL: 1,1,,"), std::string::npos);
    EXPECT_EQ(At("AT+CMGL=\"ALL\""), all);
    EXPECT_EQ(At("AT+CMGD=2"), OK);
    EXPECT_EQ(At("AT+CMGR=2"), OK);
    EXPECT_EQ(At("AT+CMGD=0,4"), OK);
    EXPECT_EQ(DataLines(Ctl("LIST")).size(), 0u);
}

TEST_F(ModemSimDialogue, RefusesDeliveryIntoAFullStore) {
    for (int i = 0; i < 29; ++i)
        ASSERT_EQ(Ctl("DELIVER via=silent text=x").substr(0, 6), "STORED");
    // Two parts, one place: nothing is stored.
    EXPECT_EQ(Ctl("DELIVER via=silent partlen=1 text=ab"), "ERR store full\n");
    EXPECT_EQ(DataLines(Ctl("LIST SM")).size(), 29u);
    EXPECT_EQ(Ctl("DELIVER via=silent mem=ME partlen=1 text=ab"), "STORED ME 1\nSTORED ME 2\nOK\n");
    EXPECT_EQ(Ctl("CLEAR SM"), "OK\n");
    EXPECT_EQ(DataLines(Ctl("LIST")).size(), 2u);
    EXPECT_EQ(Ctl("LIST XX"), "ERR unknown storage\n");
}

TEST_F(ModemSimDialogue, IndicatesNewMessagesAsAT_CNMIAsks) {
    EXPECT_EQ(At("AT+CNMI=2,1,0,2,0"), OK);
    line.text.clear();
    EXPECT_EQ(Ctl("DELIVER text=stored"), "STORED SM 1\nOK\n");
    EXPECT_EQ(line.text, "\r\n+CMTI: \"SM\",1\r\n");
    line.text.clear();
    EXPECT_EQ(Ctl("REPORT mr=3"), "STORED SM 2\nOK\n");
    EXPECT_EQ(line.text, "\r\n+CDSI: \"SM\",2\r\n");

    EXPECT_EQ(At("AT+CNMI=2,2,0,1,0"), OK);
    line.text.clear();
    EXPECT_EQ(Ctl("DELIVER text=hi"), "DIRECT\nOK\n");
    EXPECT_EQ(line.text.substr(0, 15), "\r\n+CMT: ,21\r\n07");
    line.text.clear();
    EXPECT_EQ(Ctl("REPORT mr=3"), "DIRECT\nOK\n");
    EXPECT_EQ(line.text.substr(0, 14), "\r\n+CDS: 25\r\n07");

    // An explicit via wins over the settings; nothing was stored by the direct ones.
    line.text.clear();
    Ctl("DELIVER via=store mem=ME text=x");
    EXPECT_EQ(line.text, "\r\n+CMTI: \"ME\",1\r\n");
    EXPECT_EQ(DataLines(Ctl("LIST")).size(), 3u);
}

// Under AT+CSMS=1 a direct delivery waits for AT+CNMA: the next one is shown only after it;
// without an acknowledgement in time routing goes off and the network delivers again later.
TEST_F(ModemSimDialogue, DirectDeliveriesWaitForTheirAcknowledgement) {
    auto count = [this](const std::string& what) {
        const auto& r = modem.Records();
        return std::count_if(r.begin(), r.end(),
                             [&](const std::string& l) { return l.find(what) != std::string::npos; });
    };
    EXPECT_EQ(At("AT+CNMA"), "\r\nERROR\r\n");  // nothing to acknowledge (CMEE=0)
    EXPECT_EQ(At("AT+CSMS=1"), "\r\n+CSMS: 1,1,1\r\n" + OK);
    EXPECT_EQ(At("AT+CNMI=2,2,0,1,0"), OK);
    Ctl("SET ackwait 0");
    Ctl("SET retrywait 0");
    line.text.clear();
    EXPECT_EQ(Ctl("DELIVER text=one"), "DIRECT\nOK\n");
    EXPECT_EQ(Ctl("REPORT mr=3"), "DIRECT\nOK\n");
    EXPECT_EQ(count("+CMT: ,"), 1);
    EXPECT_EQ(count("+CDS: "), 0);  // waits behind the message
    EXPECT_EQ(At("AT+CNMA"), OK);
    line.text.clear();
    modem.Pump();
    EXPECT_EQ(line.text.substr(0, 14), "\r\n+CDS: 25\r\n07");
    EXPECT_EQ(count("\"kind\":\"ack\",\"result\":\"ok\""), 1);
    EXPECT_EQ(State("unacked"), "1");

    // The report is not acknowledged: routing goes off, and its retry (due at once) is stored.
    modem.Pump();
    EXPECT_EQ(count("\"result\":\"timeout\""), 1);
    EXPECT_EQ(State("cnmi"), "2,0,0,0,0");
    EXPECT_EQ(DataLines(Ctl("LIST")).size(), 1u);
    EXPECT_EQ(State("retries"), "0");

    // Refused where the modem offers phase 2 only; AT&F goes back to service 0.
    Ctl("SET phase2plus 0");
    EXPECT_EQ(At("AT+CSMS=1"), "\r\nERROR\r\n");
    EXPECT_EQ(State("csms"), "1");
    At("AT&F");
    EXPECT_EQ(State("csms"), "0");
}

TEST_F(ModemSimDialogue, ChecksCnmiValuesAgainstItsRanges) {
    At("AT+CMEE=1");
    EXPECT_EQ(At("AT+CNMI=?"), "\r\n+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\n" + OK);
    EXPECT_EQ(At("AT+CNMI=3,1,0,2,0"), "\r\n+CMS ERROR: 303\r\n");
    EXPECT_EQ(At("AT+CNMI=2,1,1"), "\r\n+CMS ERROR: 303\r\n");
    EXPECT_EQ(At("AT+CNMI=2,1,0,2,0,1"), "\r\n+CMS ERROR: 303\r\n");
    EXPECT_EQ(At("AT+CNMI=2,,,2"), OK);  // empty values keep their setting
    EXPECT_EQ(At("AT+CNMI?"), "\r\n+CNMI: 2,0,0,2,0\r\n" + OK);
}

TEST_F(ModemSimDialogue, RingsWithCallerIdentification) {
    EXPECT_EQ(Ctl("RING +4917012345"), "OK\n");
    EXPECT_EQ(line.text, "\r\nRING\r\n");  // no +CLIP before AT+CLIP=1
    At("AT+CLIP=1");
    line.text.clear();
    EXPECT_EQ(Ctl("RING +4917012345 count=2"), "OK\n");
    EXPECT_EQ(line.text, "\r\nRING\r\n\r\n+CLIP: \"+4917012345\",145\r\n\r\nRING\r\n\r\n+CLIP: \"+4917012345\",145\r\n");
    EXPECT_EQ(At("AT+CLCC"), "\r\n+CLCC: 1,1,4,0,0,\"+4917012345\",145\r\n" + OK);
    EXPECT_EQ(At("ATH"), OK);
    EXPECT_EQ(At("AT+CLCC"), OK);
}

TEST_F(ModemSimDialogue, StaysSilentForTheGivenNumberOfCommands) {
    EXPECT_EQ(Ctl("FAULT SILENT 2"), "OK\n");
    EXPECT_EQ(Send("AT\r"), "");
    EXPECT_EQ(Send("\r"), "");  // an empty line is not a command and does not count
    EXPECT_EQ(Send("AT+CSQ\r"), "");
    EXPECT_EQ(Send("AT\r"), "AT\r" + OK);
    const auto records = DataLines(Ctl("RECORD"));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_NE(records[0].find("\"text\":\"AT\",\"answered\":false"), std::string::npos);
    EXPECT_NE(records[1].find("\"text\":\"AT+CSQ\",\"answered\":false"), std::string::npos);
    EXPECT_EQ(records[2].find("answered"), std::string::npos);
}

TEST_F(ModemSimDialogue, WakesOnlyAtTheFourthAt) {
    EXPECT_EQ(Ctl("FAULT WAKE 4"), "OK\n");
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(Send("AT\r"), "") << i;
    EXPECT_EQ(Send("AT\r"), "AT\r" + OK);
}

TEST_F(ModemSimDialogue, PutsAnInjectedLineInsideTheNextAnswerOnce) {
    At("AT");
    EXPECT_EQ(Ctl("FAULT INJECT +CMTI: \"SM\",7"), "OK\n");
    EXPECT_EQ(Send("AT+CSQ\r"), "\r\n+CSQ: 17,99\r\n\r\n+CMTI: \"SM\",7\r\n" + OK);
    EXPECT_EQ(Send("AT+CSQ\r"), "\r\n+CSQ: 17,99\r\n" + OK);
}

TEST_F(ModemSimDialogue, FailsSubmissionsAsInjected) {
    At("AT+CMEE=1");
    EXPECT_EQ(Ctl("FAULT CMGS 1"), "OK\n");
    EXPECT_EQ(Send("AT+CMGS=1\r"), "\r\n+CMS ERROR: 500\r\n");
    EXPECT_EQ(Send("AT+CMGS=1\r"), "\r\n> ");
    EXPECT_EQ(Send("0011\x1a"), "\r\n+CMGS: 0\r\n" + OK);

    EXPECT_EQ(Ctl("FAULT CMGS 1 pdu"), "OK\n");
    EXPECT_EQ(Send("AT+CMGS=1\r"), "\r\n> ");
    EXPECT_EQ(Send("0011\x1a"), "\r\n+CMS ERROR: 500\r\n");

    EXPECT_EQ(Ctl("FAULT CMGS 1 noref"), "OK\n");
    Send("AT+CMGS=1\r");
    EXPECT_EQ(Send("0011\x1a"), OK);
    Send("AT+CMGS=1\r");
    EXPECT_EQ(Send("0011\x1a"), "\r\n+CMGS: 1\r\n" + OK);
    // The prompt lost: the modem waits for the PDU all the same, until ESC.
    EXPECT_EQ(Ctl("FAULT CMGS 1 noprompt"), "OK\n");
    EXPECT_EQ(Send("AT+CMGS=1\r"), "");
    EXPECT_EQ(Send("0011\x1b"), OK);
    // Sent, but never answered.
    EXPECT_EQ(Ctl("FAULT CMGS 1 silent"), "OK\n");
    Send("AT+CMGS=1\r");
    EXPECT_EQ(Send("0011\x1a"), "");
    const auto submitted = DataLines(Ctl("SUBMITTED"));
    ASSERT_FALSE(submitted.empty());
    EXPECT_NE(submitted.back().find("\"result\":\"ok\",\"mr\":2"), std::string::npos) << submitted.back();
    EXPECT_EQ(Ctl("FAULT CMGS 1 late"), "ERR CMGS late needs a delay in ms\n");
    EXPECT_EQ(Ctl("FAULT CMGS 1 later"),
              "ERR CMGS mode must be prompt, pdu, noref, noprompt, silent, late, restart or restart-pdu\n");
    // Started again after the PDU: nothing sent, the start-up lines, every setting back at its default.
    EXPECT_EQ(Ctl("FAULT CMGS 1 restart-pdu"), "OK\n");
    Send("AT+CMGS=1\r");
    EXPECT_EQ(Send("0011\x1a"), "\r\nRDY\r\n\r\n+CPIN: READY\r\n");
    EXPECT_NE(DataLines(Ctl("SUBMITTED")).back().find("\"result\":\"restart\""), std::string::npos);
    const auto state = DataLines(Ctl("STATE"));
    EXPECT_NE(state.end(), std::find(state.begin(), state.end(), "cmee=0"));
}

TEST_F(ModemSimDialogue, TakesTheServiceCentreInTheCurrentCharacterSet) {
    At("AT+CMEE=1");
    EXPECT_EQ(At("AT+CSCA=\"+491710761111\",145"), OK);
    EXPECT_EQ(At("AT+CSCA?"), "\r\n+CSCA: \"+491710761111\",145\r\n" + OK);
    EXPECT_EQ(At("AT+CSCS=\"UCS2\""), OK);
    EXPECT_EQ(At("AT+CSCA=\"+491710762222\""), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_EQ(At("AT+CSCA=\"002B00340039\""), OK);  // "+49" in UCS2
    EXPECT_EQ(At("AT+CSCA?"), "\r\n+CSCA: \"002B00340039\",145\r\n" + OK);
    EXPECT_EQ(At("AT&F"), OK);  // back to GSM
    EXPECT_EQ(At("AT+CSCA?"), "\r\n+CSCA: \"+49\",145\r\n" + OK);
}

TEST(ModemSimProfiles, DifferWhereDriversLookAtThem) {
    struct Case {
        const char* profile;
        std::string cgmi;  // the answer to AT+CGMI and AT+GMI
        bool ucs2;         // AT+CSCS="UCS2" accepted
        bool hex;
        int cnmiGroups;
    };
    const Case cases[] = {
        {"generic", "\r\nMODEMSIM\r\n" + OK, true, true, 5},
        {"sonyericsson", "\r\nSONY ERICSSON\r\n" + OK, true, false, 5},
        {"wavecom", "\r\nWAVECOM MODEM\r\n" + OK, false, true, 5},
        {"e365", OK, true, false, 5},
        {"cnmi4", "\r\nMODEMSIM\r\n" + OK, true, false, 4},
    };
    for (const auto& c : cases) {
        Line line;
        Modem modem(line, *FindProfile(c.profile));
        auto at = [&](const std::string& cmd) {
            line.text.clear();
            modem.Input(cmd + "\r");
            return line.text;
        };
        at("ATE0");
        EXPECT_EQ(at("AT+CGMI"), c.cgmi) << c.profile;
        EXPECT_EQ(at("AT+GMI"), c.cgmi) << c.profile;
        EXPECT_EQ(at("AT+CSCS=\"UCS2\"") == OK, c.ucs2) << c.profile;
        EXPECT_EQ(at("AT+CSCS=\"HEX\"") == OK, c.hex) << c.profile;
        const std::string test = at("AT+CNMI=?");
        EXPECT_EQ(static_cast<int>(std::count(test.begin(), test.end(), '(')), c.cnmiGroups) << c.profile;
        // Values for a fifth group only where one is offered.
        EXPECT_EQ(at("AT+CNMI=2,1,0,0,0") == OK, c.cnmiGroups == 5) << c.profile;
        EXPECT_EQ(at("AT+CNMI=2,1,0,0"), OK) << c.profile;
    }
    EXPECT_EQ(FindProfile("nokia"), nullptr);
}

TEST_F(ModemSimDialogue, SwitchesProfileFromControl) {
    EXPECT_EQ(Ctl("PROFILE e365"), "OK\n");
    EXPECT_EQ(At("AT+CGMI"), OK);
    EXPECT_EQ(At("AT+CGMM"), "\r\n+CGMM: \"GSM900\",\"GSM1800\",\"GSM1900\",\"MODEL=E365\"\r\n" + OK);
    EXPECT_EQ(Ctl("PROFILE nosuch"), "ERR unknown profile\n");
    EXPECT_EQ(State("profile"), "e365");
}

TEST_F(ModemSimDialogue, ControlRefusesMalformedRequests) {
    const std::pair<std::string, std::string> cases[] = {
        {"NOSUCH", "ERR unknown request\n"},
        {"", "ERR unknown request\n"},
        {"DELIVER via=fax text=x", "ERR via must be auto, store, direct or silent\n"},
        {"DELIVER from=+49x1 text=x", "ERR bad sender\n"},
        {"DELIVER dcs=7bit text=\xC4\x85", "ERR text has characters outside the GSM alphabet\n"},
        {"DELIVER refbits=x text=x", "ERR bad number\n"},
        {"DELIVER hex=4G", "ERR bad hex text\n"},
        {"DELIVER garbage", "ERR expected key=value at 'garbage'\n"},
        {"REPORT status=1", "ERR mr=<n> needed, status must be a number\n"},
        {"PDU hex=", "ERR hex=<tpdu> needed\n"},
        {"FAULT SILENT", "ERR FAULT SILENT needs a count\n"},
        {"FAULT SILENT -1", "ERR FAULT SILENT needs a count\n"},
        {"FAULT BURN 1", "ERR unknown fault BURN\n"},
        {"SET colour red", "ERR unknown key\n"},
        {"UNSOLICITED", "ERR UNSOLICITED needs a line\n"},
    };
    for (const auto& [request, reply] : cases)
        EXPECT_EQ(Ctl(request), reply) << request;
    EXPECT_EQ(DataLines(Ctl("LIST")).size(), 0u);
}

TEST_F(ModemSimDialogue, DeliversAReadyPduAndTextGivenInHex) {
    EXPECT_EQ(Ctl("PDU via=silent hex=0400"), "STORED SM 1\nOK\n");
    EXPECT_EQ(At("AT+CMGR=1"), "\r\n+CMGR: 0,,2\r\n\r\n000400\r\n" + OK);
    EXPECT_EQ(Ctl("PDU via=silent sc=0281F1 hex=0400"), "STORED SM 2\nOK\n");
    EXPECT_EQ(At("AT+CMGR=2"), "\r\n+CMGR: 0,,2\r\n\r\n0281F10400\r\n" + OK);
    EXPECT_EQ(Ctl("PDU via=silent sc=0381F1 hex=0400").substr(0, 6), "ERR sc");
    EXPECT_EQ(Ctl("PDU via=silent empty=1"), "STORED SM 3\nOK\n");
    EXPECT_EQ(At("AT+CMGR=3"), "\r\n+CMGR: 0,,0\r\n" + OK);
    At("AT+CMGD=0,4");
    // "a\nb" as UTF-8 hex: the line feed survives into the 7-bit text.
    EXPECT_EQ(Ctl("DELIVER via=silent hex=610A62"), "STORED SM 1\nOK\n");
    const auto listed = DataLines(Ctl("LIST SM"));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_NE(listed[0].find("03618518\""), std::string::npos) << listed[0];  // UDL 3, a LF b packed
}

TEST_F(ModemSimDialogue, WritesUnsolicitedLinesAndRecordsThem) {
    EXPECT_EQ(Ctl("UNSOLICITED +CREG: 1"), "OK\n");
    EXPECT_EQ(line.text, "\r\n+CREG: 1\r\n");
    const auto records = DataLines(Ctl("RECORD"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"kind\":\"unsolicited\",\"text\":\"+CREG: 1\""), std::string::npos);
    EXPECT_EQ(Ctl("RECORD CLEAR"), "OK\n");
    EXPECT_EQ(Ctl("RECORD"), "OK\n");
}
