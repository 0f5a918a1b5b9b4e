// The pellwick-pdu command, run as a separate process.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

struct Result {
    int exitCode;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Result RunTool(const std::vector<std::string>& args, const std::string& input = "/dev/null") {
    TempDir dir;
    std::string cmd = Quote(PELLWICK_PDU_TOOL);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " <" + Quote(input) + " 2>" + Quote(dir.file("err"));
    Result r{-1, {}, {}};
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream e(dir.file("err"));
    std::stringstream ss;
    ss << e.rdbuf();
    r.err = ss.str();
    return r;
}

TEST(PduTool, EncodesAsTheDriverSends) {
    const Result r = RunTool({"encode", "--to", "+123", "--text", "Hi"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "001100039121F30000AD02C834\n");
    EXPECT_EQ(r.err, "");

    EXPECT_EQ(RunTool({"encode", "--to", "+123", "--text", "Hi", "--report"}).out, "003100039121F30000AD02C834\n");
    const Result marked = RunTool({"encode", "--to", "+123", "--text", "abc", "--kind", "4"});
    EXPECT_EQ(marked.out, "001100039121F30008AD0A00010061006200630001\n");

    // Extension characters stay 7-bit: one PDU with DCS 00.
    EXPECT_EQ(RunTool({"encode", "--to", "+491701234567", "--text", "10€ [ok]"}).out,
              "0011000C919471103254760000AD0B31D8A60CDAF0DEEB8D0F\n");

    // A 300-character text in Long SMS Mode: two 7-bit segments, the first with 153 septets.
    const Result lines = RunTool({"encode", "--to", "+123", "--text", std::string(300, 'x'), "--kind", "2"});
    EXPECT_EQ(lines.exitCode, 0);
    std::istringstream in(lines.out);
    std::string line;
    std::vector<std::string> udls;
    while (std::getline(in, line)) {
        EXPECT_EQ(line.substr(0, 20), "005100039121F30000AD") << line;
        EXPECT_EQ(line.substr(22, 6), "050003") << line;
        udls.push_back(line.substr(20, 2));
    }
    EXPECT_EQ(udls, (std::vector<std::string>{"A0", "9A"}));
}

TEST(PduTool, ReadsTheTextFromAFile) {
    TempDir dir;
    std::ofstream(dir.file("msg.txt")) << "Hi\n";
    const Result r = RunTool({"encode", "--to", "+123", "--text-file", dir.file("msg.txt")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "001100039121F30000AD02C834\n");
}

TEST(PduTool, DecodesToOneJsonObject) {
    const Result r = RunTool({"decode", "0004039121F300005060412100000002C834"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "{\"phone\":\"+123\",\"text\":\"Hi\",\"time\":\"050614120000\",\"time_iso\":\"2005-06-14T12:00:00+00:00\","
              "\"kind\":1,\"dcs\":0,\"udl\":2,\"reference\":0,\"delivered\":1,\"concat\":null}\n");
    // Time zones in quarters of an hour: +2 hours written swapped (80) and unswapped (08),
    // -5 hours (20 with the sign bit), +8 hours.
    const std::pair<const char*, const char*> zones[] = {
        {"80", "+02:00"}, {"08", "+02:00"}, {"0A", "-05:00"}, {"00", "+00:00"}, {"23", "+08:00"}};
    for (auto [octet, zone] : zones) {
        const Result z = RunTool({"decode", std::string("0004039121F30000506041210000") + octet + "02C834"});
        EXPECT_NE(z.out.find(std::string("\"time_iso\":\"2005-06-14T12:00:00") + zone + "\""), std::string::npos)
            << octet << " " << z.out;
    }

    // Concatenation, escaped text, a stored SUBMIT and a status report.
    const Result part = RunTool({"decode", "0044039121F300045060412100000008050003120201227A"});
    EXPECT_NE(part.out.find("\"text\":\"\\\"z\""), std::string::npos) << part.out;
    EXPECT_NE(part.out.find("\"concat\":{\"ref\":18,\"total\":2,\"seq\":1}"), std::string::npos) << part.out;
    const Result stored = RunTool({"decode", "001100039121F30000AD02C834", "--stored-status", "3"});
    EXPECT_NE(stored.out.find("\"time\":\"000101000000\""), std::string::npos) << stored.out;
    const Result report = RunTool({"decode", "0006D70B911326880736F4111011719551401110117195714030"});
    EXPECT_NE(report.out.find("\"kind\":6,"), std::string::npos) << report.out;
    EXPECT_NE(report.out.find("\"reference\":215,\"delivered\":0,"), std::string::npos) << report.out;
}

TEST(PduTool, DecodesEveryLineOfStandardInput) {
    TempDir dir;
    std::ofstream(dir.file("pdus")) << "0004039121F300005060412100000002C834\r\n\n  0004zz\n"
                                    << "0791947101670000040D91945111325476F80000423050\n"
                                    << "001100039121F30000AD02C834\n";
    const Result r = RunTool({"decode", "--stored-status", "0"}, dir.file("pdus"));
    EXPECT_EQ(r.exitCode, 2);
    std::istringstream out(r.out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(out, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_NE(lines[0].find("\"text\":\"Hi\""), std::string::npos);
    EXPECT_EQ(lines[1].rfind("{\"error\":", 0), 0u);
    EXPECT_EQ(lines[2], "{\"error\":\"time stamp is cut short\"}");
    EXPECT_NE(lines[3].find("\"time_iso\":null"), std::string::npos);
    EXPECT_EQ(r.err, "pellwick-pdu: line 3: PDU holds characters that are not hex digits\n"
                     "pellwick-pdu: line 4: time stamp is cut short\n");
}

TEST(PduTool, HelpAndVersionGoToStandardOutput) {
    const Result help = RunTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: pellwick-pdu ", 0), 0u);
    EXPECT_EQ(help.err, "");
    const Result version = RunTool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("pellwick-pdu ", 0), 0u);
}

TEST(PduTool, BadInputGetsOneErrorLineAndExitCodeTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"decode", "0004039121F30"},       // odd length
        {"decode", "00ZZ039121F3"},        // not hex
        {"decode", "00"},                  // too short to decode
        {"decode", ""},                    // an empty PDU, not "read standard input"
        {"decode", "0007039121F300005060412100000002C834"},  // reserved message type
        {"decode", "0791947101670000040D91945111325476F80000423050"},  // cut inside the time stamp
        {"encode", "--to", "abc", "--text", "Hi"},
        {"encode", "--to", "+", "--text", "Hi"},
        {"decode", "0004039121F3", "--stored-status"},
        {"decode", "0004039121F3", "--stored-status", "two"},
        {"encode", "--text", "Hi"},
        {"encode", "--to", "+123"},
        {"encode", "--to", "+123", "--text", ""},
        {"encode", "--to", "+123", "--text", "Hi", "--kind", "6"},
        {"encode", "--to", "+123", "--text-file", "/nonexistent/pellwick/msg.txt"},
        {"encode", "--to", "+123", "--text", std::string(64 * 153 + 1, 'x'), "--kind", "2"},
    };
    for (const auto& args : cases) {
        const Result r = RunTool(args);
        std::string joined;
        for (const auto& a : args) joined += a.substr(0, 20) + " ";
        EXPECT_EQ(r.exitCode, 2) << joined;
        EXPECT_EQ(r.out, "") << joined;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << r.err;
        EXPECT_EQ(r.err.rfind("pellwick-pdu: ", 0), 0u) << joined << r.err;
    }
}

}  // namespace
