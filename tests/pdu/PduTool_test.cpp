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

Result RunTool(const std::vector<std::string>& args) {
    TempDir dir;
    std::string cmd = Quote(PELLWICK_PDU_TOOL);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " 2>" + Quote(dir.file("err"));
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

    const Result lines = RunTool({"encode", "--to", "+123", "--text", std::string(300, 'x'), "--kind", "2"});
    EXPECT_EQ(lines.exitCode, 0);
    std::istringstream in(lines.out);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        EXPECT_EQ(line.substr(0, 20), "005100039121F30004AD");
        ++count;
    }
    EXPECT_EQ(count, 3);
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
              "{\"phone\":\"+123\",\"text\":\"Hi\",\"time\":\"050614120000\",\"kind\":1,\"dcs\":0,\"udl\":2,"
              "\"reference\":0,\"delivered\":1,\"concat\":null}\n");

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

TEST(PduTool, BadInputGetsOneErrorLineAndExitCodeTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"decode"},
        {"decode", "0004039121F30"},       // odd length
        {"decode", "00ZZ039121F3"},        // not hex
        {"decode", "00"},                  // too short to decode
        {"decode", "0004039121F3", "--stored-status"},
        {"decode", "0004039121F3", "--stored-status", "two"},
        {"encode", "--text", "Hi"},
        {"encode", "--to", "+123"},
        {"encode", "--to", "+123", "--text", ""},
        {"encode", "--to", "+123", "--text", "Hi", "--kind", "6"},
        {"encode", "--to", "+123", "--text-file", "/nonexistent/pellwick/msg.txt"},
        {"encode", "--to", "+123", "--text", std::string(64 * 134 + 1, 'x'), "--kind", "2"},
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
