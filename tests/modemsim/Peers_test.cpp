// Real SMS tools against the simulator: gammu identifies it, sends through it and reads
// the messages it delivers; smstools3 sends a spooled file and collects delivered ones.
// Both must take it for a modem, and their independent PDU codecs check ours.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Gsm7.h"
#include "support/ModemSim.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Runs a shell command and returns what it printed (standard output and error).
std::string Shell(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int s = ::pclose(p);
    if (status)
        *status = s;
    return out;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The value of a string field in one JSON record line.
std::string Field(const std::string& json, const std::string& key) {
    const std::string tag = "\"" + key + "\":\"";
    const size_t at = json.find(tag);
    if (at == std::string::npos)
        return {};
    const size_t start = at + tag.size();
    return json.substr(start, json.find('"', start) - start);
}

// 7-bit packed hex of an ASCII text whose characters have the same GSM code.
std::string Packed(const std::string& ascii) {
    std::vector<uint8_t> septets(ascii.begin(), ascii.end());
    return modemsim::ToHex(modemsim::PackSeptets(septets));
}

// Checks a recorded SMS-SUBMIT: accepted, AT+CMGS length equal to the TPDU octets,
// the destination and the 7-bit text where they belong.
void ExpectSubmit(const std::string& record, const std::string& destination, const std::string& text) {
    EXPECT_NE(record.find("\"result\":\"ok\""), std::string::npos) << record;
    const std::string pdu = Field(record, "pdu");
    ASSERT_GE(pdu.size(), 2u) << record;
    const size_t scOctets = 1 + std::stoul(pdu.substr(0, 2), nullptr, 16);
    const std::string length = "\"length\":" + std::to_string(pdu.size() / 2 - scOctets) + ",";
    EXPECT_NE(record.find(length), std::string::npos) << record;
    const std::string tpdu = pdu.substr(scOctets * 2);
    // First octet with TP-MTI 01 (SUBMIT), then TP-MR, then the destination address.
    EXPECT_EQ(std::stoul(tpdu.substr(0, 2), nullptr, 16) & 0x03, 1u) << tpdu;
    EXPECT_EQ(tpdu.substr(4, destination.size()), destination) << tpdu;
    char udl[3];
    std::snprintf(udl, sizeof udl, "%02X", static_cast<unsigned>(text.size()));
    const std::string tail = udl + Packed(text);
    ASSERT_GE(tpdu.size(), tail.size());
    EXPECT_EQ(tpdu.substr(tpdu.size() - tail.size()), tail) << tpdu;
}

class ModemSimGammu : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Shell("command -v gammu").empty(), false) << "gammu is not installed";
        std::ofstream(dir.file("gammurc")) << "[gammu]\ndevice = " << sim.LinkPath() << "\nconnection = at\nuse_locking = no\n";
    }
    std::string RunGammu(const std::string& args, int* status = nullptr) {
        return Shell("LC_ALL=C.UTF-8 gammu -c " + dir.file("gammurc") + " " + args, status);
    }

    TempDir dir;
    ModemSim sim{dir.path()};
};

// The block of `gammu getallsms` output for one SIM location.
std::string LocationBlock(const std::string& listing, int index) {
    const std::string head = "Location " + std::to_string(index) + ",";
    const size_t at = listing.find(head);
    if (at == std::string::npos)
        return {};
    const size_t next = listing.find("\nLocation ", at + head.size());
    return listing.substr(at, next == std::string::npos ? std::string::npos : next - at);
}

// Stored indices from a control answer of STORED lines.
std::vector<int> Stored(const std::string& reply) {
    std::vector<int> indices;
    for (const auto& l : ModemSim::Lines(reply)) {
        if (l.rfind("STORED SM ", 0) == 0)
            indices.push_back(std::stoi(l.substr(10)));
    }
    return indices;
}

}  // namespace

TEST_F(ModemSimGammu, IdentifiesTheModem) {
    int status = -1;
    const std::string out = RunGammu("identify", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("MODEMSIM"), std::string::npos) << out;
    EXPECT_NE(out.find("MS-100"), std::string::npos) << out;
    EXPECT_NE(out.find("351234567890123"), std::string::npos) << out;
    EXPECT_NE(out.find("262011234567890"), std::string::npos) << out;
}

TEST_F(ModemSimGammu, SendsAnSmsThroughIt) {
    int status = -1;
    const std::string out = RunGammu("sendsms TEXT +4917012345 -text 'Hello from gammu'", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("message reference=0"), std::string::npos) << out;
    const auto subs = sim.Submitted();
    ASSERT_EQ(subs.size(), 1u);
    ExpectSubmit(subs[0], "0A919471103254", "Hello from gammu");
}

TEST_F(ModemSimGammu, DecodesTheMessagesItDelivers) {
    struct Case {
        std::string request;
        std::vector<std::string> expected;  // per stored part
    };
    const std::vector<Case> cases = {
        {"DELIVER via=silent from=+4917012345 text=Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC [x] {y} ~ ^ \\ | end",
         {"Remote number        : \"+4917012345\"", "Default GSM alphabet",
          "\nGr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC [x] {y} ~ ^ \\ | end\n"}},
        {"DELIVER via=silent alpha=ShopInfo text=Alpha sender",
         {"Remote number        : \"ShopInfo\"", "\nAlpha sender\n"}},
        {"DELIVER via=silent from=0301234567 ts=050312142530-08 text=Local",
         {"Remote number        : \"0301234567\"", "Sat Mar 12 14:25:30 2005 -0200", "\nLocal\n"}},
        {"DELIVER via=silent from=+4917012345 dcs=ucs2 text=Snowman \xE2\x98\x83 and \xF0\x9F\x98\x80",
         {"Unicode", "\nSnowman \xE2\x98\x83 and \xF0\x9F\x98\x80\n"}},
        {"DELIVER via=silent from=+4917012345 partlen=12 ref=300 refbits=16 text=This text is split",
         {"ID (16 bit) 300, part 1 of 2", "\nThis text is\n"}},
        {"DELIVER via=silent from=+4917012345 partlen=3 ref=7 text=a\xE2\x82\xAC" "b",
         {"ID (8 bit) 7, part 1 of 2", "\na\xE2\x82\xAC\n"}},
        {"REPORT via=silent mr=5 to=+4917012345 status=0",
         {"SMS status report", "Reference number     : 5", "Delivered", "Remote number        : \"+4917012345\""}},
    };
    std::vector<int> first;
    for (const auto& c : cases) {
        const auto indices = Stored(sim.Control(c.request));
        ASSERT_FALSE(indices.empty()) << c.request;
        first.push_back(indices.front());
    }
    int status = -1;
    const std::string listing = RunGammu("getallsms", &status);
    EXPECT_EQ(status, 0) << listing;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string block = LocationBlock(listing, first[i]);
        for (const auto& e : cases[i].expected)
            EXPECT_NE(block.find(e), std::string::npos) << cases[i].request << "\n--- wanted: " << e << "\n" << block;
    }
}

class ModemSimSmsTools : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Shell("command -v smsd").empty(), false) << "smstools is not installed";
        for (const char* d : {"outgoing", "checked", "failed", "sent", "incoming"})
            fs::create_directory(dir.file(d));
    }
    void TearDown() override {
        if (m_pid > 0) {
            ::kill(-m_pid, SIGTERM);  // smsd and the device process it forked
            for (int i = 0; i < 500 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::kill(-m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // Runs smsd in the foreground as the current user with everything in the temp folder.
    void Start(bool incoming) {
        std::ofstream(dir.file("smsd.conf"))
            << "devices = GSM1\n"
            << "outgoing = " << dir.file("outgoing") << "\nchecked = " << dir.file("checked")
            << "\nfailed = " << dir.file("failed") << "\nsent = " << dir.file("sent")
            << "\nincoming = " << dir.file("incoming") << "\nlogfile = " << dir.file("smsd.log")
            << "\nloglevel = 7\ninfofile = " << dir.file("smsd.running") << "\npidfile = " << dir.file("smsd.pid")
            << "\nstats_interval = 0\ndelaytime = 1\n\n[GSM1]\ndevice = " << sim.LinkPath()
            << "\nincoming = " << (incoming ? "yes" : "no") << "\nbaudrate = 115200\n";
        const std::string user = Shell("id -un"), group = Shell("id -gn");
        std::string args[] = {"smsd", "-c" + dir.file("smsd.conf"), "-t", "-u" + user.substr(0, user.size() - 1),
                              "-g" + group.substr(0, group.size() - 1)};
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            std::freopen(dir.file("smsd.out").c_str(), "w", stdout);
            std::freopen(dir.file("smsd.out").c_str(), "a", stderr);
            char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data(), nullptr};
            ::execvp("smsd", argv);
            ::_exit(127);
        }
        ::setpgid(m_pid, m_pid);
    }

    // Files of a spool folder once `ready` holds for them, or after 60 seconds.
    template <class Ready>
    std::vector<fs::path> WaitFor(const std::string& folder, Ready ready) {
        for (int i = 0; i < 600; ++i) {
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(dir.file(folder)))
                files.push_back(e.path());
            if (ready(files))
                return files;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return {};
    }

    std::string Log() { return ReadFile(dir.file("smsd.log")); }

    TempDir dir;
    ModemSim sim{dir.path()};
    pid_t m_pid = -1;
};

TEST_F(ModemSimSmsTools, SendsASpooledMessage) {
    std::ofstream(dir.file("outgoing/msg1")) << "To: 4917012345\n\nHello from smstools\n";
    Start(false);
    const auto sent = WaitFor("sent", [](const auto& files) { return !files.empty(); });
    ASSERT_EQ(sent.size(), 1u) << Log();
    const auto subs = sim.Submitted();
    ASSERT_EQ(subs.size(), 1u) << Log();
    ExpectSubmit(subs[0], "0A919471103254", "Hello from smstools");
    EXPECT_NE(Log().find("Message_id: 0"), std::string::npos);
}

TEST_F(ModemSimSmsTools, CollectsDeliveredMessages) {
    ASSERT_EQ(Stored(sim.Control("DELIVER via=silent alpha=ShopInfo text=Alpha sender here")).size(), 1u);
    ASSERT_EQ(Stored(sim.Control("DELIVER via=silent from=+4917012345 dcs=ucs2 text=Wide text")).size(), 1u);
    ASSERT_EQ(Stored(sim.Control("DELIVER via=silent from=+4917012345 partlen=10 text=This text is split into "
                                 "several parts!")).size(), 4u);
    Start(true);
    // Three messages, the last one joined from its four parts.
    auto complete = [&](const std::vector<fs::path>& files) {
        int done = 0;
        for (const auto& f : files)
            done += f.filename().string().find("concatenated") == std::string::npos;
        return done == 3;
    };
    const auto files = WaitFor("incoming", complete);
    ASSERT_FALSE(files.empty()) << Log();
    std::string all;
    for (const auto& f : files)
        all += ReadFile(f) + "\n----\n";
    EXPECT_NE(all.find("From: ShopInfo\n"), std::string::npos) << all;
    EXPECT_NE(all.find("\nAlpha sender here"), std::string::npos) << all;
    EXPECT_NE(all.find("From: 4917012345\n"), std::string::npos) << all;
    // UCS2 text is kept as it came: big-endian UTF-16.
    std::string wide = "\n";
    for (char ch : std::string("Wide text"))
        wide += std::string(1, '\0') + ch;
    EXPECT_NE(all.find(wide), std::string::npos) << all;
    EXPECT_NE(all.find("\nThis text is split into several parts!"), std::string::npos) << all;
    // smsd deletes what it has read (the last delete may still be under way).
    size_t left = 1;
    for (int i = 0; i < 100 && left > 0; ++i) {
        left = ModemSim::Lines(sim.Control("LIST SM")).size();
        if (left > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(left, 0u) << Log();
}
