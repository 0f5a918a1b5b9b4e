#include "link/ComPort.h"
#include "link/PtyPeer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using Chunks = std::vector<PtyPeer::Chunk>;

// Echoes every command like a modem with ATE1, then answers it.
PtyPeer::Script EchoThen(Chunks answer) {
    return [answer](const std::string& line) {
        Chunks out{{line, 0}};
        out.insert(out.end(), answer.begin(), answer.end());
        return out;
    };
}

struct PtyFixture : ::testing::Test {
    TempDir dir;
    PtyPeer peer{dir.file("COM1")};
    CComPort port{SystemClock(), dir.path()};
    void SetUp() override {
        ASSERT_TRUE(peer.Ready());
        port.Configure(1, 115200);
        ASSERT_EQ(1, port.Open());
    }
    // Waits until the port has text queued (the peer writes asynchronously).
    void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }
};

TEST_F(PtyFixture, EchoedCommandComesBackWithoutEchoAndLeadingLineEnds) {
    peer.SetScript(EchoThen({{"\r\nOK\r\n", 0}}));
    EXPECT_EQ("OK\r\n", port.Exchange("AT\r", "", 2000));
    EXPECT_EQ("AT\r", peer.Heard());
    EXPECT_NE(std::string::npos, port.m_strReceived.find("AT\r\r\nOK"));  // raw text kept
}

TEST_F(PtyFixture, ReplyInChunksIsReassembled) {
    peer.SetScript(EchoThen({{"\r\n+CSQ: ", 60}, {"17,", 60}, {"99\r\n", 60}, {"\r\nO", 60}, {"K\r\n", 60}}));
    EXPECT_EQ("+CSQ: 17,99\r\n\r\nOK\r\n", port.Exchange("AT+CSQ\r", "", 3000));
}

TEST_F(PtyFixture, ReplyWithoutFinalResultIsReturnedAsFarAsItCame) {
    peer.SetScript(EchoThen({{"\r\n+CBC: 0,", 0}}));
    EXPECT_EQ("+CBC: 0,", port.Exchange("AT+CBC\r", "", 400));
}

TEST_F(PtyFixture, ErrorEndsTheReplyBeforeLaterText) {
    peer.SetScript(EchoThen({{"\r\n+CME ERROR: 10\r\n", 0}, {"\r\nOK\r\n", 400}}));
    const std::string reply = port.Exchange("AT+CPMS?\r", "", 3000);
    EXPECT_EQ("+CME ERROR: 10\r\n", reply);
}

TEST_F(PtyFixture, ExtraTerminatorStopsAtThePrompt) {
    peer.SetScript(EchoThen({{"\r\n> ", 0}, {"too late\r\nOK\r\n", 400}}));
    EXPECT_EQ("> ", port.Exchange("AT+CMGS=23\r", ">", 3000));
}

TEST_F(PtyFixture, StaleInputIsDroppedBeforeTheCommand) {
    peer.Send("\r\nRING\r\n");
    Settle();
    peer.SetScript(EchoThen({{"\r\nOK\r\n", 0}}));
    const std::string reply = port.Exchange("AT\r", "", 2000);
    EXPECT_EQ("OK\r\n", reply);
    EXPECT_EQ(0u, port.m_strReceived.find("\r\nRING\r\n"));  // still in the received text
}

TEST_F(PtyFixture, ChunkEndsAtTheFirstNul) {
    peer.Send(std::string("OK\0garbage", 10));
    Settle();
    EXPECT_EQ("OK", port.Read());
    EXPECT_EQ("OK", port.m_strReceived);
}

TEST_F(PtyFixture, OneReadTakesAtMost1024Bytes) {
    peer.Send(std::string(3000, 'x'));
    Settle();
    const std::string first = port.Read();
    EXPECT_EQ(1024u, first.size());
    std::string all = first;
    for (int i = 0; i < 10 && all.size() < 3000; ++i) all += port.Read();
    EXPECT_EQ(3000u, all.size());
}

TEST_F(PtyFixture, WriteReportsTheBytesSent) {
    EXPECT_EQ(3, port.Write("AT\r"));
    EXPECT_EQ(0, port.Write(""));
    Settle();
    EXPECT_EQ("AT\r", peer.Heard());
}

TEST_F(PtyFixture, SecondOpenIsRefusedAndThePortStaysOpen) {
    EXPECT_EQ(-1, port.Open());
    EXPECT_EQ(1, port.IsOpen());
    peer.SetScript(EchoThen({{"\r\nOK\r\n", 0}}));
    EXPECT_EQ("OK\r\n", port.Exchange("AT\r", "", 2000));
}

TEST_F(PtyFixture, AnotherPortObjectCannotShareTheDevice) {
    CComPort other(SystemClock(), dir.path());
    other.Configure(1, 9600);
    EXPECT_EQ(-1, other.Open());
    EXPECT_EQ(1, port.Close());
    EXPECT_EQ(1, other.Open());
}

TEST_F(PtyFixture, CloseForgetsTheReceivedText) {
    peer.Send("+CMTI: \"SM\",1\r\n");
    Settle();
    port.Read();
    ASSERT_FALSE(port.m_strReceived.empty());
    EXPECT_EQ(1, port.Close());
    EXPECT_EQ("", port.m_strReceived);
    EXPECT_EQ(0, port.IsOpen());
    EXPECT_EQ(1, port.Close());
}

TEST_F(PtyFixture, PortAndSpeedOutsideTheRangesAreRefused) {
    ASSERT_EQ(1, port.Close());
    // Every refused number has a working device behind it: only the range check refuses.
    ASSERT_EQ(0, ::symlink(dir.file("COM1").c_str(), dir.file("COM64").c_str()));
    ASSERT_EQ(0, ::symlink(dir.file("COM1").c_str(), dir.file("COM0").c_str()));
    struct Case {
        int port, baud;
    };
    for (const Case& c : {Case{0, 9600}, Case{64, 9600}, Case{1, 1199}, Case{1, 115201}, Case{-1, 9600}}) {
        port.Configure(c.port, c.baud);
        EXPECT_EQ(-1, port.Open()) << c.port << " " << c.baud;
        EXPECT_EQ(0, port.IsOpen());
    }
    ASSERT_EQ(0, ::symlink(dir.file("COM1").c_str(), dir.file("COM63").c_str()));
    for (const Case& c : {Case{63, 1200}, Case{1, 115200}}) {
        port.Configure(c.port, c.baud);
        EXPECT_EQ(1, port.Open()) << c.port << " " << c.baud;
        EXPECT_EQ(1, port.Close());
    }
}

}  // namespace
