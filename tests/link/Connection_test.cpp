#include "link/Connection.h"
#include "link/LogFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

// Records what the connection forwards to it.
class RecordingTransport : public CTransport {
public:
    explicit RecordingTransport(std::string name) : CTransport(SystemClock()), m_name(std::move(name)) {}
    int Open() override {
        ++opens;
        return openResult;
    }
    int Close() override {
        ++closes;
        return closeResult;
    }
    int IsOpen() override { return 1; }
    std::string Read() override { return m_name + "-read"; }
    int Write(const std::string&) override { return 0; }
    std::string ReadUntil(const std::string&, const std::string&, const std::string&, int) override { return {}; }
    std::string Exchange(const std::string& command, const std::string& extra, int timeoutMs) override {
        lastCommand = command;
        lastExtra = extra;
        lastTimeout = timeoutMs;
        return m_name + "-reply";
    }
    int SetLines(int flags) override {
        lines = flags;
        return 1;
    }
    void Configure(int p, int b) override {
        port = p;
        baud = b;
    }

    int openResult = 1, closeResult = 1, opens = 0, closes = 0, lines = -1, port = 0, baud = 0;
    int lastTimeout = 0;
    std::string lastCommand, lastExtra;

private:
    std::string m_name;
};

struct ConnectionFixture : ::testing::Test {
    RecordingTransport* serial = new RecordingTransport("serial");
    RecordingTransport* infrared = new RecordingTransport("ir");
    CConnection connection{std::unique_ptr<CTransport>(serial), std::unique_ptr<CTransport>(infrared)};
};

TEST_F(ConnectionFixture, SerialModeConfiguresAndOpensThePort) {
    connection.ConnectionMode = 1;
    connection.ComNumber = 7;
    connection.ComBaudrate = 57600;
    EXPECT_EQ(1, connection.Connect());
    EXPECT_EQ(1, serial->opens);
    EXPECT_EQ(0, infrared->opens);
    EXPECT_EQ(7, serial->port);
    EXPECT_EQ(57600, serial->baud);
}

TEST_F(ConnectionFixture, ModeZeroUsesInfraredAndAnyOtherValueSerial) {
    connection.ConnectionMode = 0;
    EXPECT_EQ("ir-reply", connection.Exchange("AT\r", "", 100));
    EXPECT_EQ("ir-read", connection.Read());
    connection.ConnectionMode = 5;
    EXPECT_EQ("serial-reply", connection.Exchange("AT\r", ">", 250));
    EXPECT_EQ(">", serial->lastExtra);
    EXPECT_EQ(250, serial->lastTimeout);
    EXPECT_EQ("serial-read", connection.Read());
}

TEST_F(ConnectionFixture, FailuresBecomeMinusOne) {
    connection.ConnectionMode = 0;
    infrared->openResult = 0;
    infrared->closeResult = 0;
    EXPECT_EQ(-1, connection.Connect());
    EXPECT_EQ(-1, connection.Disconnect());
}

TEST_F(ConnectionFixture, ReceivedTextAndConsumeActOnTheSelectedTransport) {
    serial->m_strReceived = "serial text";
    infrared->m_strReceived = "infrared";
    connection.ConnectionMode = 1;
    EXPECT_EQ("serial text", connection.GetReceived());
    connection.Consume(7);
    EXPECT_EQ("text", serial->m_strReceived);
    EXPECT_EQ("infrared", infrared->m_strReceived);
    connection.Consume(4);  // the whole buffer: unchanged
    EXPECT_EQ("text", serial->m_strReceived);
}

TEST_F(ConnectionFixture, LinesGoToTheSerialTransport) {
    connection.ConnectionMode = 0;
    EXPECT_EQ(1, connection.SetLines(2));
    EXPECT_EQ(2, serial->lines);
    EXPECT_EQ(-1, infrared->lines);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST_F(ConnectionFixture, ConnectAndDisconnectWriteTheirLogLines) {
    TempDir dir;
    const std::string path = dir.file("Pellwick.log");
    theLog.SetFileName(path);
    theLog.SetEnabled(1);
    connection.ConnectionMode = 1;
    connection.ComNumber = 3;
    connection.ComBaudrate = 19200;
    serial->openResult = -1;
    connection.Connect();
    connection.Disconnect();
    theLog.SetEnabled(0);

    const std::string log = ReadFile(path);
    size_t at = 0;
    for (const char* line : {"CConnection::Connect()\r\n", "ConnectionMode=1\r\n", "ComNumber=3\r\n",
                             "ComBaudrate=19200\r\n", "CConnection::Connect()=-1\r\n",
                             "CConnection::Disconnect()\r\n", "CConnection::Disconnect()=1\r\n"}) {
        const size_t found = log.find(line, at);
        ASSERT_NE(std::string::npos, found) << "missing or out of order: " << line << "\nlog:\n" << log;
        at = found + 1;
    }
}

}  // namespace
