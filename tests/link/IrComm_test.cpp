#include "link/IrComm.h"
#include "link/LogFile.h"
#include "link/TestClock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Scripted infrared socket layer: one device in range offering IrCOMM 9-wire, a peer that
// answers each sent command from a queue, and switches to make any step fail.
class FakeIrSockets : public IIrSockets {
public:
    struct State {
        std::vector<uint32_t> devices{0x1234ABCD};
        IasAttribute parameters{IAS_OCTET_SEQUENCE, std::string("\x00\x01\x04", 3)};
        bool failCreate = false, failEnum = false, failIas = false, failNineWire = false,
             failConnect = false, refuseClose = false, probeFails = false;
        int lastError = 0;
        int created = 0, closed = 0, connects = 0;
        uint32_t connectedDevice = 0;
        std::string connectedService, iasClass, iasAttribute;
        std::vector<std::string> sent;
        std::deque<std::string> answers;  // one per Send, becomes readable at once
        std::string incoming;
        std::vector<int> liveSockets;
    };

    explicit FakeIrSockets(std::shared_ptr<State> state) : s(std::move(state)) {}

    int Create() override {
        if (s->failCreate) return -1;
        ++s->created;
        return 100 + s->created;
    }
    int EnumerateDevices(int, std::vector<uint32_t>& ids) override {
        if (s->failEnum) return -1;
        ids = s->devices;
        return 0;
    }
    int QueryIas(int, uint32_t, const std::string& cls, const std::string& attr, IasAttribute& v) override {
        s->iasClass = cls;
        s->iasAttribute = attr;
        if (s->failIas) return -1;
        v = s->parameters;
        return 0;
    }
    int SetNineWireMode(int) override { return s->failNineWire ? -1 : 0; }
    int Connect(int, uint32_t device, const std::string& service) override {
        ++s->connects;
        s->connectedDevice = device;
        s->connectedService = service;
        return s->failConnect ? -1 : 0;
    }
    int Close(int) override {
        if (s->refuseClose) {
            s->lastError = ERR_NOT_A_SOCKET;
            return -1;
        }
        ++s->closed;
        return 0;
    }
    int SendProbe(int) override {
        if (s->probeFails) {
            s->lastError = ERR_CONNECTION_RESET;
            return -1;
        }
        return 0;
    }
    int BytesWaiting(int) override { return static_cast<int>(s->incoming.size()); }
    int Receive(int, char* buffer, int size) override {
        const int n = std::min<int>(size, static_cast<int>(s->incoming.size()));
        s->incoming.copy(buffer, static_cast<size_t>(n));
        s->incoming.erase(0, static_cast<size_t>(n));
        return n;
    }
    int Send(int, const std::string& data) override {
        s->sent.push_back(data);
        if (!s->answers.empty()) {
            s->incoming += s->answers.front();
            s->answers.pop_front();
        }
        return static_cast<int>(data.size());
    }
    int LastError() override { return s->lastError; }

private:
    std::shared_ptr<State> s;
};

struct IrFixture : ::testing::Test {
    std::shared_ptr<FakeIrSockets::State> state = std::make_shared<FakeIrSockets::State>();
    TestClock clock;
    std::unique_ptr<CIrComm> ir;
    void SetUp() override {
        clock.m_advancePerRead = 1;  // the reply loop polls without sleeping while nothing arrives
        ir = std::make_unique<CIrComm>(clock, std::make_unique<FakeIrSockets>(state));
    }
};

TEST_F(IrFixture, OpensTheFirstDeviceOverItsIrCommService) {
    state->devices = {0x11111111, 0x22222222};
    EXPECT_EQ(1, ir->Open());
    EXPECT_EQ(1, ir->IsMarkedOpen());
    EXPECT_EQ(0x11111111u, state->connectedDevice);
    EXPECT_EQ("IrDA:IrCOMM", state->connectedService);
    EXPECT_EQ("IrDA:IrCOMM", state->iasClass);
    EXPECT_EQ("Parameters", state->iasAttribute);
}

TEST_F(IrFixture, EveryFailedStepClosesTheSocketAndLeavesTheLinkClosed) {
    const std::vector<std::pair<const char*, std::function<void()>>> faults = {
        {"enumeration fails", [&] { state->failEnum = true; }},
        {"no device", [&] { state->devices.clear(); }},
        {"IAS query fails", [&] { state->failIas = true; }},
        {"not an octet sequence", [&] { state->parameters.type = 1; }},
        {"sequence too short", [&] { state->parameters.octets = std::string("\x00\x04", 2); }},
        {"no 9-wire service", [&] { state->parameters.octets = std::string("\x00\x01\x02", 3); }},
        {"9-wire mode refused", [&] { state->failNineWire = true; }},
        {"connect fails", [&] { state->failConnect = true; }},
    };
    for (const auto& [name, inject] : faults) {
        state = std::make_shared<FakeIrSockets::State>();
        ir = std::make_unique<CIrComm>(clock, std::make_unique<FakeIrSockets>(state));
        inject();
        EXPECT_EQ(-1, ir->Open()) << name;
        EXPECT_EQ(0, ir->IsMarkedOpen()) << name;
        EXPECT_EQ(1, state->closed) << name;
    }
}

TEST_F(IrFixture, SocketThatCannotBeCreatedFailsWithoutClosing) {
    state->failCreate = true;
    EXPECT_EQ(-1, ir->Open());
    EXPECT_EQ(0, state->closed);
}

TEST(IrParameters, ServiceTypeWalk) {
    struct Case {
        const char* name;
        std::string octets;
        bool nineWire;
    };
    const Case cases[] = {
        {"first parameter", std::string("\x00\x01\x04", 3), true},
        {"all service types", std::string("\x00\x01\x0E", 3), true},
        {"3-wire only", std::string("\x00\x01\x02", 3), false},
        {"after a port-type parameter", std::string("\x01\x01\x03\x00\x01\x04", 6), true},
        {"after a longer parameter", std::string("\x02\x03\x00\x00\x04\x00\x01\x06", 8), true},
        {"9-wire bit in another parameter", std::string("\x01\x01\x04\x00\x01\x01", 6), false},
        {"value cut off", std::string("\x01\x05\x04\x00", 4), false},
        {"empty", std::string(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.nineWire, CIrComm::OffersNineWire(c.octets)) << c.name;
}

TEST_F(IrFixture, ExchangeRemovesEchoAndCompletesAReplyEndingInABlankLine) {
    ASSERT_EQ(1, ir->Open());
    state->answers = {"AT+CBC\r\r\n+CBC: 0,80\r\r"};
    const std::string reply = ir->Exchange("AT+CBC\r", "", 300);
    EXPECT_EQ("+CBC: 0,80\r\rOK", reply);
    ASSERT_EQ(1u, state->sent.size());
    EXPECT_EQ("AT+CBC\r", state->sent[0]);
    EXPECT_NE(std::string::npos, ir->m_strReceived.find("+CBC: 0,80"));
}

TEST_F(IrFixture, ReplyWithOkIsLeftAsItIs) {
    ASSERT_EQ(1, ir->Open());
    state->answers = {"\r\nOK\r\r"};
    EXPECT_EQ("OK\r\r", ir->Exchange("AT\r", "", 300));
}

TEST_F(IrFixture, ReplyWithoutTerminatorReturnsWhatArrivedAfterTheTimeOut) {
    ASSERT_EQ(1, ir->Open());
    state->answers = {"\r\n+CSQ: 1"};
    const long long start = clock.m_now;
    EXPECT_EQ("+CSQ: 1", ir->Exchange("AT+CSQ\r", "", 500));
    EXPECT_GE(clock.m_now - start, 500);
}

TEST_F(IrFixture, ClosedLinkRefusesEveryTransfer) {
    EXPECT_EQ(0, ir->IsOpen());
    EXPECT_EQ("", ir->Exchange("AT\r", "", 100));
    EXPECT_EQ(-1, ir->Write("AT\r"));
    EXPECT_EQ("", ir->Read());
    EXPECT_TRUE(state->sent.empty());
}

TEST_F(IrFixture, ChunkStopsAtTheFirstNul) {
    ASSERT_EQ(1, ir->Open());
    state->incoming = std::string("OK\0junk", 7);
    EXPECT_EQ("OK", ir->Read());
    EXPECT_EQ("OK", ir->m_strReceived);
}

TEST_F(IrFixture, FailedProbeReconnectsOnce) {
    ASSERT_EQ(1, ir->Open());
    state->probeFails = true;
    EXPECT_EQ(1, ir->IsOpen());
    EXPECT_EQ(2, state->connects);
    EXPECT_EQ(1, state->closed);  // the dead socket
    EXPECT_EQ(1, ir->IsMarkedOpen());
}

TEST_F(IrFixture, FailedReconnectStaysMarkedOpenUntilOpenRebuildsIt) {
    ASSERT_EQ(1, ir->Open());
    state->probeFails = true;
    state->failConnect = true;
    EXPECT_EQ(0, ir->IsOpen());
    EXPECT_EQ(1, ir->IsMarkedOpen());

    // Next probe: closing the dead socket is refused, the link stays marked open.
    state->refuseClose = true;
    EXPECT_EQ(0, ir->IsOpen());
    EXPECT_EQ(1, ir->IsMarkedOpen());
    EXPECT_EQ(-1, ir->Close());

    // Open sees the not-a-socket error and builds a new connection.
    state->refuseClose = false;
    state->failConnect = false;
    state->probeFails = false;
    EXPECT_EQ(1, ir->Open());
    EXPECT_EQ(1, ir->IsOpen());
}

TEST_F(IrFixture, OpenOnAHealthyOpenLinkIsRefused) {
    ASSERT_EQ(1, ir->Open());
    EXPECT_EQ(-1, ir->Open());
    EXPECT_EQ(1, state->created);
    EXPECT_EQ(1, ir->IsMarkedOpen());
}

TEST_F(IrFixture, CloseEmptiesTheReceivedText) {
    ASSERT_EQ(1, ir->Open());
    state->incoming = "RING\r\n";
    ir->Read();
    EXPECT_EQ(1, ir->Close());
    EXPECT_EQ("", ir->m_strReceived);
    EXPECT_EQ(0, ir->IsMarkedOpen());
    EXPECT_EQ(1, ir->Close());  // closing a closed link is fine
}

// The modem's echo of the PIN command reaches the log masked however it is cut into
// chunks: at every pair of positions (one cut when both are the same).
TEST_F(IrFixture, EchoedPinNeverReachesTheLogWhateverTheSplit) {
    TempDir dir;
    theLog.SetFileName(dir.file("Pellwick.log"));
    theLog.SetEnabled(1);
    const std::string echo = "AT+CPIN=\"1234\",\"5678\"\r\r\nOK\r\nat+cpin=9876\r\n";
    ASSERT_EQ(1, ir->Open());
    for (std::size_t i = 0; i <= echo.size(); ++i) {
        for (std::size_t j = i; j <= echo.size(); ++j) {
            fs::remove(dir.file("Pellwick.log"));
            for (const std::string& chunk : {echo.substr(0, i), echo.substr(i, j - i), echo.substr(j)}) {
                state->incoming = chunk;
                ir->Read();
            }
            std::ifstream in(dir.file("Pellwick.log"), std::ios::binary);
            const std::string log(std::istreambuf_iterator<char>(in), {});
            EXPECT_EQ(log.find_first_of("123456789"), std::string::npos) << i << "," << j << ": " << log;
            EXPECT_NE(log.find("\"****\""), std::string::npos) << i << "," << j;
            EXPECT_NE(log.find("OK"), std::string::npos) << i << "," << j;
        }
    }
    theLog.SetEnabled(0);
}

TEST(IrSystem, OpenFailsWhereTheKernelHasNoInfraredStack) {
    CIrComm ir;
    if (ir.Open() == 1) GTEST_SKIP() << "this kernel has an infrared stack with a device in range";
    EXPECT_EQ(0, ir.IsMarkedOpen());
    EXPECT_EQ(0, ir.IsOpen());
}

}  // namespace
