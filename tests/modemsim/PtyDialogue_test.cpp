// The simulator program itself: its pseudo-terminal, link, control socket, command line
// and the faults that shape how answers reach the line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "SerialPort.h"
#include "support/ModemSim.h"
#include "support/TempDir.h"

namespace {

const std::string OK = "\r\nOK\r\n";

bool IsSymlink(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

TEST(ModemSimPty, LinksThePseudoTerminalAndAnswersOnIt) {
    TempDir dir;
    ModemSim sim(dir.path());
    ASSERT_TRUE(IsSymlink(dir.file("COM1")));
    char target[256] = {};
    ASSERT_GT(::readlink(dir.file("COM1").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
    EXPECT_EQ(sim.Control("PING"), "OK\n");

    SerialPort port(sim.LinkPath());
    ASSERT_TRUE(port.IsOpen());
    port.Write("AT\r");
    EXPECT_EQ(port.ReadUntil(OK), "AT\r" + OK);
    port.Write("ATE0\r");
    port.ReadUntil(OK);
    port.Write("AT+CGMM\r");
    EXPECT_EQ(port.ReadUntil(OK), "\r\nMS-100\r\n" + OK);
}

TEST(ModemSimPty, ReplacesAStaleLinkAndRemovesItOnQuit) {
    TempDir dir;
    ASSERT_EQ(::symlink("/nonexistent", dir.file("COM3").c_str()), 0);
    ModemSim sim(dir.path(), "generic", {}, "COM3");
    SerialPort port(sim.LinkPath());
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(sim.Control("QUIT"), "OK\n");
    // The process ends by itself; then neither the link nor the socket is left.
    int status = -1;
    for (int i = 0; i < 500 && ::waitpid(sim.Pid(), &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(IsSymlink(sim.LinkPath()));
    struct stat st{};
    EXPECT_NE(::stat(sim.ControlPath().c_str(), &st), 0);
}

TEST(ModemSimPty, ChunkedAnswersArriveWholeInSeveralPieces) {
    TempDir dir;
    ModemSim sim(dir.path());
    SerialPort port(sim.LinkPath());
    port.Write("ATE0\r");
    port.ReadUntil(OK);
    ASSERT_EQ(sim.Control("FAULT CHUNK 4 100"), "OK\n");
    int reads = 0;
    port.Write("AT+CSQ\r");
    EXPECT_EQ(port.ReadUntil(OK, &reads), "\r\n+CSQ: 17,99\r\n" + OK);
    EXPECT_GT(reads, 1);
}

TEST(ModemSimPty, SlowAnswersComeLateButWhole) {
    TempDir dir;
    ModemSim sim(dir.path());
    SerialPort port(sim.LinkPath());
    port.Write("ATE0\r");
    port.ReadUntil(OK);
    ASSERT_EQ(sim.Control("FAULT SLOW 1500"), "OK\n");
    port.Write("AT+CBC\r");
    EXPECT_EQ(port.ReadFor(200), "");
    EXPECT_EQ(port.ReadUntil(OK), "\r\n+CBC: 0,85\r\n" + OK);
}

TEST(ModemSimPty, SubmitsAndCancelsThroughTheRawLine) {
    TempDir dir;
    ModemSim sim(dir.path());
    SerialPort port(sim.LinkPath());
    port.Write("ATE0\r");
    port.ReadUntil(OK);
    port.Write("AT+CMGS=1\r");
    EXPECT_EQ(port.ReadUntil("> "), "\r\n> ");
    port.Write("0011\x1b");  // ESC and Ctrl-Z pass the raw line untouched
    EXPECT_EQ(port.ReadUntil(OK), OK);
    port.Write("AT+CMGS=1\r");
    port.ReadUntil("> ");
    port.Write("0011\x1a");
    EXPECT_EQ(port.ReadUntil(OK), "\r\n+CMGS: 0\r\n" + OK);
    const auto subs = sim.Submitted();
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_NE(subs[0].find("\"result\":\"cancelled\""), std::string::npos);
    EXPECT_NE(subs[1].find("\"pdu\":\"0011\",\"result\":\"ok\",\"mr\":0"), std::string::npos) << subs[1];
}

TEST(ModemSimPty, IndicatesDeliveredMessagesOnTheLine) {
    TempDir dir;
    ModemSim sim(dir.path(), "sonyericsson");
    SerialPort port(sim.LinkPath());
    port.Write("ATE0;+CNMI=2,1,0,2,0\r");
    port.ReadUntil(OK);
    EXPECT_EQ(sim.Control("DELIVER from=+4917012345 text=Hello"), "STORED SM 1\nOK\n");
    EXPECT_EQ(port.ReadUntil("\r\n+CMTI: \"SM\",1\r\n"), "\r\n+CMTI: \"SM\",1\r\n");
    port.Write("AT+CMGR=1\r");
    const std::string answer = port.ReadUntil(OK);
    EXPECT_EQ(answer.rfind("\r\n+CMGR: 0,,", 0), 0u) << answer;
}

TEST(ModemSimPty, HonoursPinWakeAndRecordOptions) {
    TempDir dir;
    const std::string record = dir.file("record.jsonl");
    ModemSim sim(dir.path(), "generic", {"--pin", "4321", "--wake", "3", "--record", record});
    SerialPort port(sim.LinkPath());
    port.Write("AT\r");
    EXPECT_EQ(port.ReadFor(300), "");
    port.Write("AT\r");
    EXPECT_EQ(port.ReadFor(300), "");
    port.Write("ATE0\r");
    EXPECT_EQ(port.ReadUntil(OK), "ATE0\r" + OK);
    port.Write("AT+CPIN?\r");
    EXPECT_EQ(port.ReadUntil(OK), "\r\n+CPIN: SIM PIN\r\n" + OK);
    port.Write("AT+CPIN=\"4321\"\r");
    EXPECT_EQ(port.ReadUntil(OK), OK);

    std::ifstream in(record);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find("\"kind\":\"command\",\"text\":\"AT\",\"answered\":false"), std::string::npos);
    EXPECT_NE(lines[4].find("\"text\":\"AT+CPIN=\\\"4321\\\"\""), std::string::npos) << lines[4];
    EXPECT_EQ(sim.Records(), lines);
}

TEST(ModemSimPty, RefusesABadCommandLine) {
    for (const std::string args : {"--profile nosuch", "--wake 0", "--bogus", "--link"}) {
        const int status = std::system((std::string(PW_MODEMSIM_PATH) + " " + args + " 2>/dev/null").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args;
    }
}

TEST(ModemSimPty, AnswersRequestsGivenOnTheCommandLine) {
    TempDir dir;
    ModemSim sim(dir.path());
    auto run = [&](const std::string& args, int& status) {
        std::string out;
        FILE* p = ::popen((std::string(PW_MODEMSIM_PATH) + " --control " + sim.ControlPath() + " " + args +
                           " 2>/dev/null").c_str(), "r");
        char buf[512];
        size_t n;
        while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        status = p ? ::pclose(p) : -1;
        return out;
    };
    int status = -1;
    EXPECT_EQ(run("--request PING --request 'DELIVER via=silent text=hi there'", status), "OK\nSTORED SM 1\nOK\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(run("--request NOSUCH --request PING", status), "ERR unknown request\nOK\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
    EXPECT_EQ(ModemSim::Lines(sim.Control("LIST SM")).size(), 1u);
    const int unreachable = std::system((std::string(PW_MODEMSIM_PATH) + " --control " + dir.file("none.ctl") +
                                         " --request PING 2>/dev/null").c_str());
    EXPECT_TRUE(WIFEXITED(unreachable) && WEXITSTATUS(unreachable) == 1);
}
