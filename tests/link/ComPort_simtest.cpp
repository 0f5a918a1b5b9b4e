#include "link/ComPort.h"
#include "support/ModemSim.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The serial port on a pty whose other end is the modem simulator (echo on by default).
struct PortFixture : ::testing::Test {
    TempDir dir;
    ModemSim sim{dir.path()};
    CComPort port{SystemClock(), dir.path()};
    void SetUp() override {
        port.Configure(1, 115200);
        ASSERT_EQ(1, port.Open());
    }
    // Waits until `bytes` bytes the simulator wrote are queued at the port, counted through
    // a second descriptor of the same tty, which reads nothing away.
    void Settle(size_t bytes) {
        const int fd = ::open(sim.LinkPath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int queued = 0;
        while (::ioctl(fd, FIONREAD, &queued) == 0 && static_cast<size_t>(queued) < bytes &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::close(fd);
        ASSERT_GE(static_cast<size_t>(queued), bytes);
    }
};

TEST_F(PortFixture, EchoAndLeadingLineEndsAreRemoved) {
    EXPECT_EQ("OK\r\n", port.Exchange("AT\r", "", 2000));
    EXPECT_EQ("+CSQ: 17,99\r\n\r\nOK\r\n", port.Exchange("AT+CSQ\r", "", 2000));
    EXPECT_EQ(0u, port.m_strReceived.find("AT\r\r\nOK"));  // the raw text keeps the echo
}

TEST_F(PortFixture, ReplyInSmallPiecesIsReassembled) {
    sim.Control("FAULT CHUNK 3 30");
    // Collecting stops with the piece that completes "OK"; its line end comes later.
    EXPECT_EQ(0u, port.Exchange("AT+CBC\r", "", 5000).find("+CBC: 0,85\r\n\r\nOK"));
}

TEST_F(PortFixture, TimeOutReturnsWhatArrived) {
    sim.Control("FAULT CHUNK 4 300");
    const std::string reply = port.Exchange("AT+CSQ\r", "", 1000);
    EXPECT_FALSE(reply.empty());
    EXPECT_EQ(std::string::npos, reply.find("OK"));
    EXPECT_EQ(0u, std::string("+CSQ: 17,99\r\n\r\nOK\r\n").find(reply)) << reply;
}

TEST_F(PortFixture, ErrorEndsTheReply) {
    const std::string reply = port.Exchange("AT+CPMS=\"XX\"\r", "", 2000);
    EXPECT_NE(std::string::npos, reply.find("ERROR"));
    EXPECT_EQ(std::string::npos, reply.find("OK"));
}

TEST_F(PortFixture, ExtraTerminatorStopsAtThePrompt) {
    EXPECT_EQ("> ", port.Exchange("AT+CMGS=12\r", ">", 2000));
    EXPECT_NE(std::string::npos, port.Exchange("\x1B", "", 2000).find("OK"));  // input cancelled
}

TEST_F(PortFixture, StaleInputIsDroppedBeforeTheCommand) {
    sim.Control("UNSOLICITED RING");
    Settle(8);
    EXPECT_EQ("OK\r\n", port.Exchange("AT\r", "", 2000));
    EXPECT_EQ(0u, port.m_strReceived.find("\r\nRING\r\n"));  // still in the received text
}

TEST_F(PortFixture, OneReadTakesAtMost1024Bytes) {
    const std::string line(3000, 'x');
    sim.Control("UNSOLICITED " + line);
    Settle(line.size() + 4);
    const std::string first = port.Read();
    EXPECT_EQ(1024u, first.size());
    std::string all = first;
    for (int i = 0; i < 10; ++i) all += port.Read();
    EXPECT_EQ("\r\n" + line + "\r\n", all);
}

TEST_F(PortFixture, WriteReportsTheBytesSent) {
    EXPECT_EQ(3, port.Write("AT\r"));
    EXPECT_EQ(0, port.Write(""));
}

TEST_F(PortFixture, SecondOpenIsRefusedAndThePortStaysUsable) {
    EXPECT_EQ(-1, port.Open());
    EXPECT_EQ(1, port.IsOpen());
    EXPECT_EQ("OK\r\n", port.Exchange("AT\r", "", 2000));
}

TEST_F(PortFixture, AnotherPortObjectCannotShareTheDevice) {
    CComPort other(SystemClock(), dir.path());
    other.Configure(1, 9600);
    EXPECT_EQ(-1, other.Open());
    EXPECT_EQ(1, port.Close());
    EXPECT_EQ(1, other.Open());
}

TEST_F(PortFixture, CloseForgetsTheReceivedText) {
    sim.Control("UNSOLICITED +CMTI: \"SM\",1");
    Settle(1);
    port.Read();
    ASSERT_FALSE(port.m_strReceived.empty());
    EXPECT_EQ(1, port.Close());
    EXPECT_EQ("", port.m_strReceived);
    EXPECT_EQ(0, port.IsOpen());
    EXPECT_EQ(1, port.Close());
}

TEST_F(PortFixture, PortAndSpeedOutsideTheRangesAreRefused) {
    ASSERT_EQ(1, port.Close());
    // Every refused number has a working device behind it: only the range check refuses.
    for (const char* name : {"COM0", "COM63", "COM64"})
        ASSERT_EQ(0, ::symlink(sim.LinkPath().c_str(), dir.file(name).c_str()));
    struct Case {
        int port, baud;
    };
    for (const Case& c : {Case{0, 9600}, Case{64, 9600}, Case{1, 1199}, Case{1, 115201}, Case{-1, 9600}}) {
        port.Configure(c.port, c.baud);
        EXPECT_EQ(-1, port.Open()) << c.port << " " << c.baud;
        EXPECT_EQ(0, port.IsOpen());
    }
    for (const Case& c : {Case{63, 1200}, Case{1, 115200}}) {
        port.Configure(c.port, c.baud);
        EXPECT_EQ(1, port.Open()) << c.port << " " << c.baud;
        EXPECT_EQ(1, port.Close());
    }
}

}  // namespace
