#include "link/LogFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteBytes(const std::string& path, size_t count, char fill = 'x') {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string s(count, fill);
    out.write(s.data(), static_cast<std::streamsize>(s.size()));
}

struct LogFixture : ::testing::Test {
    TempDir dir;
    CLogFile log;
    std::string path = dir.file("Pellwick.log");
    void SetUp() override {
        log.SetFileName(path);
        log.SetEnabled(1);
    }
};

}  // namespace

TEST_F(LogFixture, DisabledLogWritesNothing) {
    log.SetEnabled(0);
    EXPECT_EQ(0, log.Write("abc"));
    EXPECT_EQ(1, log.Printf("%d", 5));  // Printf reports 1 whatever Write did
    EXPECT_FALSE(fs::exists(path));
}

TEST(LogFile, EmptyNameWritesLogTxtInCurrentFolder) {
    TempDir dir;
    auto old = fs::current_path();
    fs::current_path(dir.path());
    CLogFile log;
    log.SetEnabled(1);
    EXPECT_EQ(1, log.Write("hello"));
    fs::current_path(old);
    EXPECT_EQ("hello", ReadAll(dir.file("Log.TXT")));
}

TEST_F(LogFixture, UnopenableFileGivesMinusOne) {
    log.SetFileName(dir.file("missing/folder/x.log"));
    EXPECT_EQ(-1, log.Write("lost"));
}

TEST(LogFile, LineEndNormalisation) {
    struct Case { std::string in, out; } cases[] = {
        {"abc\r", "abc\r\n"},
        {"a\nb", "a\r\nb"},
        {"x\r\ny\r", "x\r\ny\r"},        // holds a CR LF: unchanged, lone CR kept
        {"\n\r", "\r\n\r\n"},
        {"", ""},
        {"plain", "plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.out, CLogFile::NormaliseLineEnds(c.in)) << c.in;
}

TEST_F(LogFixture, WritesAppendNormalisedText) {
    log.Write("AT\r");
    log.Write("OK\n");
    log.Write("x\r\ny\r");
    EXPECT_EQ("AT\r\nOK\r\nx\r\ny\r", ReadAll(path));
}

// The log holds the modem dialogue: private to the gateway, and never the SIM's PIN.
TEST_F(LogFixture, PrivateFileWithoutThePin) {
    log.WriteTimed("AT+CPIN=\"1234\"\r");
    log.Write("echo AT+CPIN=5678\r\nOK\r\n");
    log.Printf("AT+CPIN?\r");
    const std::string text = ReadAll(path);
    EXPECT_EQ(text.find("1234"), std::string::npos) << text;
    EXPECT_EQ(text.find("5678"), std::string::npos) << text;
    EXPECT_NE(text.find("] AT+CPIN=\"****\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("echo AT+CPIN=\"****\"\r\nOK\r\nAT+CPIN?\r\n"), std::string::npos) << text;
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST(LogFile, TimeStampShape) {
    std::tm t{};
    t.tm_mon = 1;
    t.tm_mday = 3;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    EXPECT_EQ("[02-03 09:05:07.004] ", CLogFile::TimeStamp(t, 4));
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 16;
    t.tm_min = 28;
    t.tm_sec = 32;
    EXPECT_EQ("[12-06 16:28:32.045] ", CLogFile::TimeStamp(t, 45));
}

TEST_F(LogFixture, TimedWriteHasPrefixAndNormalisedEnd) {
    log.WriteTimed("AT+CSQ\r");
    std::string s = ReadAll(path);
    ASSERT_EQ(21u + 8u, s.size());
    EXPECT_EQ('[', s[0]);
    EXPECT_EQ('.', s[15]);
    EXPECT_EQ("] AT+CSQ\r\n", s.substr(19));
}

TEST_F(LogFixture, LongFormatsAreWrittenWhole) {
    for (size_t n : {299u, 300u, 301u, 600u, 901u, 5000u}) {
        fs::remove(path);
        std::string big(n, 'q');
        EXPECT_EQ(1, log.Printf("<%s>", big.c_str()));
        EXPECT_EQ("<" + big + ">", ReadAll(path)) << n;
    }
}

TEST_F(LogFixture, TrimBoundaries) {
    // Exactly at the limit: untouched.
    WriteBytes(path, 1048576);
    EXPECT_EQ(1, log.Trim());
    EXPECT_EQ(1048576u, fs::file_size(path));

    // One byte over: 1024 cut.
    WriteBytes(path, 1048575);
    log.Write("ab");
    EXPECT_EQ(1047553u, fs::file_size(path));

    // An excess of exactly 1024 cuts 2048.
    WriteBytes(path, 1048576 + 1024);
    EXPECT_EQ(1, log.Trim());
    EXPECT_EQ(1048576u + 1024 - 2048, fs::file_size(path));
}

TEST_F(LogFixture, TrimKeepsTheNewestBytesInOrder) {
    log.m_nLimitKB = 2;  // 2048 bytes
    std::string data;
    for (int i = 0; i < 3000; ++i) data += static_cast<char>('a' + i % 26);
    {
        std::ofstream out(path, std::ios::binary);
        out << data;
    }
    log.Trim();  // excess 952: cut 1024
    EXPECT_EQ(data.substr(1024), ReadAll(path));
}

TEST_F(LogFixture, ConcurrentWritesNeverInterleave) {
    const std::string a(500, 'A'), b(500, 'B');
    auto writer = [&](const std::string& s) {
        for (int i = 0; i < 200; ++i) log.Write(s + "\r\n");
    };
    std::thread t1(writer, a), t2(writer, b);
    t1.join();
    t2.join();
    std::string s = ReadAll(path);
    ASSERT_EQ(400u * 502u, s.size());
    std::istringstream in(s);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        EXPECT_TRUE(line == a + "\r" || line == b + "\r");
    }
    EXPECT_EQ(400, lines);
}
