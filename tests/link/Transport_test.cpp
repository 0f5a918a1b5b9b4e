#include "link/Transport.h"

#include <gtest/gtest.h>

namespace {

struct CleanCase {
    const char* name;
    std::string reply;
    std::string command;
    std::string expected;
};

class CleanReplyTest : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanReplyTest, RemovesEchoAndLeadingLineEnds) {
    const CleanCase& c = GetParam();
    EXPECT_EQ(c.expected, CTransport::CleanReply(c.reply, c.command));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, CleanReplyTest,
    ::testing::Values(
        CleanCase{"EchoedAt", "AT\r\r\nOK\r\n", "AT\r", "OK\r\n"},
        CleanCase{"NoEcho", "\r\n+CSQ: 17,99\r\n\r\nOK\r\n", "AT+CSQ\r", "+CSQ: 17,99\r\n\r\nOK\r\n"},
        CleanCase{"EchoTwice", "AT\rAT\r\r\nOK\r\n", "AT\r", "OK\r\n"},
        CleanCase{"EchoInsideKeepsRest", "\r\nX\r\nAT\r\r\nOK", "AT\r", "X\r\n\r\nOK"},
        CleanCase{"OnlyLineEnds", "\r\n\r\n", "AT\r", ""},
        CleanCase{"Empty", "", "AT\r", ""},
        CleanCase{"InnerBlankLinesKept", "\n\r0,1\r\n\r\nOK", "ATX\r", "0,1\r\n\r\nOK"}),
    [](const ::testing::TestParamInfo<CleanCase>& info) { return std::string(info.param.name); });

TEST(TransportTerminators, EmptyTerminatorsAreNotTested) {
    EXPECT_TRUE(CTransport::HasTerminator("a OK b", "OK", "ERROR", ""));
    EXPECT_TRUE(CTransport::HasTerminator("+CME ERROR: 10", "OK", "ERROR", ""));
    EXPECT_TRUE(CTransport::HasTerminator("\r\n> ", "OK", "ERROR", ">"));
    EXPECT_FALSE(CTransport::HasTerminator("\r\n> ", "OK", "ERROR", ""));
    EXPECT_FALSE(CTransport::HasTerminator("anything", "", "", ""));
}

class BufferOnly : public CTransport {
public:
    BufferOnly() : CTransport(SystemClock()) {}
    int Open() override { return 1; }
    int Close() override { return 1; }
    int IsOpen() override { return 1; }
    std::string Read() override { return {}; }
    int Write(const std::string&) override { return 0; }
    std::string ReadUntil(const std::string&, const std::string&, const std::string&, int) override { return {}; }
    std::string Exchange(const std::string&, const std::string&, int) override { return {}; }
};

TEST(TransportConsume, DropsOnlyLessThanTheWholeBuffer) {
    struct Case {
        int count;
        std::string expected;
    };
    for (const Case& c : {Case{0, "abcdef"}, Case{-3, "abcdef"}, Case{2, "cdef"}, Case{5, "f"},
                          Case{6, "abcdef"}, Case{7, "abcdef"}}) {
        BufferOnly t;
        t.m_strReceived = "abcdef";
        t.Consume(c.count);
        EXPECT_EQ(c.expected, t.m_strReceived) << "count " << c.count;
    }
}

}  // namespace
