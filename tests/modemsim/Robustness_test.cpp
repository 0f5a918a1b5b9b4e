// Arbitrary input must neither crash the simulated modem nor leave it unable to answer,
// and every control request, however mangled, gets a well-formed answer.
#include <gtest/gtest.h>

#include <random>

#include "Control.h"
#include "Modem.h"

using namespace modemsim;

namespace {

class Sink : public ModemOutput {
public:
    void Echo(const std::string& bytes) override { text += bytes; }
    void Answer(const std::string& bytes) override { text += bytes; }
    std::string text;
};

template <size_t N>
std::string Pick(std::mt19937& rng, const char* const (&tokens)[N]) {
    return tokens[std::uniform_int_distribution<size_t>(0, N - 1)(rng)];
}

}  // namespace

TEST(ModemSimRobustness, RecoversFromRandomSerialInput) {
    static const char* const tokens[] = {
        "AT", "at", "+CMGS=", "+CMGW=", "+CMGR=", "+CMGD=", "+CMGL=", "+CPMS=", "+CNMI=", "+CSCA=", "+CSCS=",
        "+CPIN=", "+CMEE=", "\"SM\"", "\"ME\"", "\"UCS2\"", "\"", ";", ",", "=", "?", "0", "1", "2", "4", "9",
        "31", "255", "99999999999", "\r", "\r", "\n", "\x1a", "\x1b", "\b", "E", "V0", "Q1", "&F", "Z", "S0=", "D",
        "00", "11", "0791", "FF", "G", " ", "\xff", "+", "*", "&",
    };
    std::mt19937 rng(20261207);
    for (int round = 0; round < 200; ++round) {
        Sink sink;
        Modem modem(sink, *FindProfile(round % 2 ? "generic" : "cnmi4"));
        HandleControl(modem, "DELIVER via=silent text=seed");
        std::string junk;
        for (int i = 0; i < 400; ++i)
            junk += Pick(rng, tokens);
        modem.Input(junk);
        // End whatever line or PDU is open, reset, and ask.
        modem.Input("\r\x1b\rATZ\rATE0\r");
        sink.text.clear();
        modem.Input("AT+CSQ\r");
        EXPECT_EQ(sink.text, "\r\n+CSQ: 17,99\r\n\r\nOK\r\n") << "round " << round;
    }
}

TEST(ModemSimRobustness, AnswersEveryControlRequestWithAFinalLine) {
    static const char* const tokens[] = {
        "DELIVER", "REPORT", "PDU", "FAULT", "SET", "RING", "LIST", "CLEAR", "STATE", "PIN", "PROFILE",
        "UNSOLICITED", "SILENT", "CMGS", "CHUNK", "INJECT", "battery", "signal", "smsc", " ", " ", " ",
        "text=", "hex=", "from=", "alpha=", "dcs=", "via=", "mem=", "ref=", "refbits=", "partlen=", "ts=",
        "class=", "mr=", "status=", "to=", "type=", "7bit", "ucs2", "8bit", "store", "direct", "SM", "ME",
        "-1", "0", "1", "16", "255", "65536", "99999999999", "+49", "abc", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
        "\xC3", "261207093000+04", "0A", "=", ",",
    };
    std::mt19937 rng(42);
    Sink sink;
    Modem modem(sink, *FindProfile("generic"));
    for (int i = 0; i < 5000; ++i) {
        std::string request;
        const int words = std::uniform_int_distribution<int>(1, 8)(rng);
        for (int w = 0; w < words; ++w)
            request += Pick(rng, tokens);
        if (request.rfind("QUIT", 0) == 0)
            continue;
        const std::string reply = HandleControl(modem, request).reply;
        ASSERT_FALSE(reply.empty()) << request;
        ASSERT_EQ(reply.back(), '\n') << request;
        const size_t start = reply.rfind('\n', reply.size() - 2);
        const std::string last = reply.substr(start == std::string::npos ? 0 : start + 1);
        EXPECT_TRUE(last == "OK\n" || last.rfind("ERR ", 0) == 0) << request << " -> " << reply;
        if (i % 500 == 0)
            HandleControl(modem, "CLEAR");
    }
}
