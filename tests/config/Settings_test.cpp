#include "config/MessageHook.h"
#include "config/SettingsFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int IntAt(const std::string& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    return static_cast<int>(v);
}

void PutIntAt(std::string& bytes, std::size_t offset, int value) {
    auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The text stored in a field: its bytes up to the first zero.
std::string TextAt(const std::string& bytes, std::size_t offset, std::size_t width) {
    std::string field = bytes.substr(offset, width);
    return field.substr(0, field.find('\0'));
}

void PutTextAt(std::string& bytes, std::size_t offset, const std::string& text) {
    std::memcpy(bytes.data() + offset, text.data(), text.size());
}

// A record with a distinct value in every stored field.
CSettings DistinctRecord() {
    CSettings s;
    s.m_nPort = 101;
    s.m_nBaudRate = 102;
    s.m_nRetryInterval = 103;
    s.m_nRetryCount = 104;
    s.m_strSmsc = "+4915200000";
    s.m_bLongSms = 106;
    s.m_strDsn = "dsn7";
    s.m_strDbUser = "user8";
    s.m_strDbPassword = "pass9";
    s.m_strSelectSql = "select 10";
    s.m_strUpdateSql = "update 11";
    s.m_strInsertSql = "insert 12";
    s.m_nQueryInterval = 113;
    s.m_bLogFile = 114;
    s.m_bDailyReport = 115;
    s.m_nReportTime = 116;
    s.m_bReportSent = 117;
    s.m_bBatteryWarned = 118;
    s.m_bDbLostWarned = 119;
    s.m_bAutoStart = 120;
    s.m_strReportPhone = "phone21";
    s.m_bSendingPeriod = 122;
    s.m_nStartTime = 123;
    s.m_nEndTime = 124;
    s.m_bBatteryWarning = 125;
    s.m_bDbLostWarning = 126;
    s.m_nSent = 127;
    s.m_nReceived = 128;
    s.m_nFailed = 129;
    s.m_nUnsent = -130;
    return s;
}

struct IntField {
    std::size_t offset;
    int CSettings::*member;
};
struct TextField {
    std::size_t offset;
    std::size_t width;
    std::string CSettings::*member;
};

const std::vector<IntField> kIntFields = {
    {0, &CSettings::m_nPort},           {4, &CSettings::m_nBaudRate},
    {8, &CSettings::m_nRetryInterval},  {12, &CSettings::m_nRetryCount},
    {48, &CSettings::m_bLongSms},       {916, &CSettings::m_nQueryInterval},
    {920, &CSettings::m_bLogFile},      {924, &CSettings::m_bDailyReport},
    {928, &CSettings::m_nReportTime},   {932, &CSettings::m_bReportSent},
    {936, &CSettings::m_bBatteryWarned}, {940, &CSettings::m_bDbLostWarned},
    {944, &CSettings::m_bAutoStart},    {980, &CSettings::m_bSendingPeriod},
    {984, &CSettings::m_nStartTime},    {988, &CSettings::m_nEndTime},
    {992, &CSettings::m_bBatteryWarning}, {996, &CSettings::m_bDbLostWarning},
    {1000, &CSettings::m_nSent},        {1004, &CSettings::m_nReceived},
    {1008, &CSettings::m_nFailed},      {1012, &CSettings::m_nUnsent},
};

const std::vector<TextField> kTextFields = {
    {16, 32, &CSettings::m_strSmsc},       {52, 32, &CSettings::m_strDsn},
    {84, 32, &CSettings::m_strDbUser},     {116, 32, &CSettings::m_strDbPassword},
    {148, 256, &CSettings::m_strSelectSql}, {404, 256, &CSettings::m_strUpdateSql},
    {660, 256, &CSettings::m_strInsertSql}, {948, 32, &CSettings::m_strReportPhone},
};

// Captures messages instead of logging them.
struct CapturedMessages {
    std::vector<std::pair<std::string, std::string>> messages;
    ErrorMessageHook previous;
    CapturedMessages() {
        previous = SetErrorMessageHook([this](const std::string& text, const std::string& caption) {
            messages.emplace_back(text, caption);
        });
    }
    ~CapturedMessages() { SetErrorMessageHook(previous); }
};

struct SettingsFile : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("Pellwick.ini");
    CapturedMessages captured;
};

}  // namespace

TEST(SettingsLayout, EveryFieldAtItsOffset) {
    CSettings s = DistinctRecord();
    std::string bytes = EncodeSettings(s);
    ASSERT_EQ(bytes.size(), 1016u);
    for (const IntField& f : kIntFields)
        EXPECT_EQ(IntAt(bytes, f.offset), s.*f.member) << "offset " << f.offset;
    for (const TextField& f : kTextFields) {
        EXPECT_EQ(TextAt(bytes, f.offset, f.width), s.*f.member) << "offset " << f.offset;
        // The rest of the field after the text is zero-filled.
        std::string rest = bytes.substr(f.offset + (s.*f.member).size(), f.width - (s.*f.member).size());
        EXPECT_EQ(rest, std::string(rest.size(), '\0')) << "offset " << f.offset;
    }
}

TEST(SettingsLayout, NegativeIntegersAreTwosComplementLittleEndian) {
    CSettings s;
    s.m_nUnsent = -2;
    s.m_nPort = 0x01020304;
    std::string bytes = EncodeSettings(s);
    EXPECT_EQ(bytes.substr(1012, 4), std::string("\xFE\xFF\xFF\xFF", 4));
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x04\x03\x02\x01", 4));
}

TEST(SettingsLayout, PinIsNeverStored) {
    CSettings a = DistinctRecord();
    CSettings b = a;
    b.m_strPin = "1234";
    EXPECT_EQ(EncodeSettings(a), EncodeSettings(b));
    EXPECT_EQ(EncodeSettings(b).find("1234"), std::string::npos);
}

TEST(SettingsLayout, DecodeOfHandBuiltBytes) {
    std::string bytes(1016, '\0');
    for (const IntField& f : kIntFields) PutIntAt(bytes, f.offset, static_cast<int>(f.offset) + 7);
    for (const TextField& f : kTextFields) PutTextAt(bytes, f.offset, "t" + std::to_string(f.offset));
    CSettings s;
    EXPECT_EQ(DecodeSettings(s, bytes.data(), bytes.size()), 30);
    for (const IntField& f : kIntFields) EXPECT_EQ(s.*f.member, static_cast<int>(f.offset) + 7);
    for (const TextField& f : kTextFields) EXPECT_EQ(s.*f.member, "t" + std::to_string(f.offset));
}

TEST(SettingsLayout, CountersInFileOrderSentReceivedFailedUnsent) {
    std::string bytes = EncodeSettings(CSettings());
    PutIntAt(bytes, 1000, 1);
    PutIntAt(bytes, 1004, 2);
    PutIntAt(bytes, 1008, 3);
    PutIntAt(bytes, 1012, 4);
    PutIntAt(bytes, 932, 11);
    PutIntAt(bytes, 936, 12);
    PutIntAt(bytes, 940, 13);
    CSettings s;
    DecodeSettings(s, bytes.data(), bytes.size());
    EXPECT_EQ(s.m_nSent, 1);
    EXPECT_EQ(s.m_nReceived, 2);
    EXPECT_EQ(s.m_nFailed, 3);
    EXPECT_EQ(s.m_nUnsent, 4);
    EXPECT_EQ(s.m_bReportSent, 11);
    EXPECT_EQ(s.m_bBatteryWarned, 12);
    EXPECT_EQ(s.m_bDbLostWarned, 13);
}

TEST(SettingsLayout, QueryIntervalBelowOneBecomesOne) {
    for (int stored : {0, -1, -2147483647 - 1}) {
        std::string bytes = EncodeSettings(CSettings());
        PutIntAt(bytes, 916, stored);
        CSettings s;
        DecodeSettings(s, bytes.data(), bytes.size());
        EXPECT_EQ(s.m_nQueryInterval, 1) << stored;
    }
    std::string bytes = EncodeSettings(CSettings());
    PutIntAt(bytes, 916, 1);
    CSettings s;
    DecodeSettings(s, bytes.data(), bytes.size());
    EXPECT_EQ(s.m_nQueryInterval, 1);
}

TEST(SettingsLayout, LongTextsCutWithoutSplittingCharacters) {
    struct Case {
        std::string text;
        std::string stored;
    };
    const std::string a30(30, 'a');
    const std::vector<Case> cases = {
        {std::string(31, 'x'), std::string(31, 'x')},
        {std::string(32, 'x'), std::string(31, 'x')},
        {std::string(100, 'x'), std::string(31, 'x')},
        {a30 + "\xC3\xA9", a30},                       // 2-byte character across the limit
        {"a" + a30 + "\xC3\xA9", "a" + a30},            // ends exactly at the limit
        {a30.substr(1) + "\xE2\x82\xAC", a30.substr(1)},  // 3-byte character from byte 29
        {a30.substr(2) + "\xE2\x82\xAC", a30.substr(2) + "\xE2\x82\xAC"},  // fits: 31 bytes
        {a30.substr(3) + "\xF0\x9F\x98\x80" + "b", a30.substr(3) + "\xF0\x9F\x98\x80"},
        {a30.substr(2) + "\xF0\x9F\x98\x80", a30.substr(2)},
    };
    for (const Case& c : cases) {
        CSettings s;
        s.m_strSmsc = c.text;
        std::string bytes = EncodeSettings(s);
        EXPECT_EQ(TextAt(bytes, 16, 32), c.stored) << c.text;
        EXPECT_EQ(bytes[16 + 31], '\0');
        EXPECT_EQ(IntAt(bytes, 48), s.m_bLongSms) << "the next field must not move";
    }
    CSettings s;
    s.m_strSelectSql = std::string(254, 'q') + "\xC3\xA9";
    EXPECT_EQ(TextAt(EncodeSettings(s), 148, 256), std::string(254, 'q'));
}

TEST(SettingsLayout, CutUtf8Boundaries) {
    EXPECT_EQ(CutUtf8("", 0), "");
    EXPECT_EQ(CutUtf8("abc", 0), "");
    EXPECT_EQ(CutUtf8("abc", 3), "abc");
    EXPECT_EQ(CutUtf8("\xC3\xA9", 1), "");
    EXPECT_EQ(CutUtf8("a\xC3\xA9z", 3), "a\xC3\xA9");
}

TEST(SettingsDefaults, NewFileValues) {
    CSettings s = DistinctRecord();
    s.m_strPin = "9999";
    s.m_bDeviceChanged = 1;
    s.SetDefaults();
    EXPECT_EQ(s.m_nPort, 1);
    EXPECT_EQ(s.m_nBaudRate, 0);
    EXPECT_EQ(s.m_nRetryInterval, 3);
    EXPECT_EQ(s.m_nRetryCount, 3);
    EXPECT_EQ(s.m_strSmsc, "");
    EXPECT_EQ(s.m_bLongSms, 1);
    EXPECT_EQ(s.m_strDsn, "DADIvav");
    EXPECT_EQ(s.m_strDbUser, "");
    EXPECT_EQ(s.m_strDbPassword, "");
    EXPECT_EQ(s.m_strSelectSql,
              "select msgid as <MSGID>, phone as <PHONE>, msgbody as <MSGBODY> from smsout where status=0");
    EXPECT_EQ(s.m_strUpdateSql, "update smsout set status=<RESULT> where msgid='<MSGID>'");
    EXPECT_EQ(s.m_strInsertSql,
              "insert into smsin(phone, msgbody, rectime) values('<PHONE>', '<MSGBODY>', '<TIME>')");
    EXPECT_EQ(s.m_nQueryInterval, 5);
    EXPECT_EQ(s.m_bSendingPeriod, 1);
    EXPECT_EQ(s.m_nStartTime, 9);
    EXPECT_EQ(s.m_nEndTime, 17);
    EXPECT_EQ(s.m_bDailyReport, 0);
    EXPECT_EQ(s.m_nReportTime, 17);
    EXPECT_EQ(s.m_bBatteryWarning, 0);
    EXPECT_EQ(s.m_bDbLostWarning, 0);
    EXPECT_EQ(s.m_strReportPhone, "");
    EXPECT_EQ(s.m_bAutoStart, 1);
    EXPECT_EQ(s.m_bLogFile, 1);
    for (int CSettings::*m : {&CSettings::m_bReportSent, &CSettings::m_bBatteryWarned,
                              &CSettings::m_bDbLostWarned, &CSettings::m_nSent, &CSettings::m_nReceived,
                              &CSettings::m_nFailed, &CSettings::m_nUnsent})
        EXPECT_EQ(s.*m, 0);
    // Memory-only values are not the file's business.
    EXPECT_EQ(s.m_strPin, "9999");
    EXPECT_EQ(s.m_bDeviceChanged, 1);
}

TEST(SettingsDefaults, ValuesBeforeTheFirstLoad) {
    CSettings s;
    EXPECT_EQ(s.m_strDsn, "");
    EXPECT_EQ(s.m_strSelectSql, "");
    EXPECT_EQ(s.m_strUpdateSql, "");
    EXPECT_EQ(s.m_strInsertSql, "");
    EXPECT_EQ(s.m_nQueryInterval, 10);
    EXPECT_EQ(s.m_nStartTime, 10);
    EXPECT_EQ(s.m_nPort, 1);
    EXPECT_EQ(s.m_nEndTime, 17);
    EXPECT_EQ(s.m_bAutoStart, 1);
    EXPECT_EQ(s.m_bLogFile, 1);
}

TEST_F(SettingsFile, MissingFileWritesDefaults) {
    CSettings s;
    s.m_strPin = "4321";
    EXPECT_EQ(LoadSettingsFile(s, path), 0);
    EXPECT_EQ(s.m_bLogFile, 1);
    EXPECT_EQ(s.m_strPin, "4321");
    std::string bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), 1016u);
    CSettings defaults;
    defaults.SetDefaults();
    EXPECT_EQ(bytes, EncodeSettings(defaults));
    EXPECT_EQ(TextAt(bytes, 52, 32), "DADIvav");
    EXPECT_EQ(IntAt(bytes, 920), 1);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(captured.messages.empty());

    // The second start reads the file and then holds m_bLogFile = 0.
    CSettings again;
    EXPECT_EQ(LoadSettingsFile(again, path), 1);
    EXPECT_EQ(again.m_bLogFile, 0);
    EXPECT_EQ(again.m_strDsn, "DADIvav");
    EXPECT_EQ(again.m_nQueryInterval, 5);
    EXPECT_EQ(again.m_nStartTime, 9);
    EXPECT_EQ(again.m_strPin, "");
}

TEST_F(SettingsFile, TextOf31BytesSurvivesSaveAndLoad) {
    CSettings s = DistinctRecord();
    const std::string text31 = "0123456789012345678901234567890";
    ASSERT_EQ(text31.size(), 31u);
    s.m_strSmsc = text31;
    s.m_strDbPassword = text31;
    s.m_strReportPhone = text31;
    ASSERT_EQ(SaveSettingsFile(s, path), 1);
    CSettings loaded;
    ASSERT_EQ(LoadSettingsFile(loaded, path), 1);
    EXPECT_EQ(loaded.m_strSmsc, text31);
    EXPECT_EQ(loaded.m_strDbPassword, text31);
    EXPECT_EQ(loaded.m_strReportPhone, text31);
    EXPECT_EQ(loaded.m_strDsn, s.m_strDsn);
    EXPECT_EQ(loaded.m_nUnsent, s.m_nUnsent);
    EXPECT_EQ(EncodeSettings(loaded), [&] {
        CSettings expect = s;
        expect.m_bLogFile = 0;
        return EncodeSettings(expect);
    }());
}

TEST_F(SettingsFile, FileCutAfterField13KeepsLaterValues) {
    std::string bytes = EncodeSettings(DistinctRecord()).substr(0, 920);
    WriteAll(path, bytes);
    CSettings s;  // values before the first load
    s.m_nSent = 55;
    s.m_strReportPhone = "prior";
    EXPECT_EQ(LoadSettingsFile(s, path), 1);
    EXPECT_EQ(s.m_nPort, 101);
    EXPECT_EQ(s.m_strInsertSql, "insert 12");
    EXPECT_EQ(s.m_nQueryInterval, 113);
    EXPECT_EQ(s.m_nStartTime, 10);
    EXPECT_EQ(s.m_nEndTime, 17);
    EXPECT_EQ(s.m_nReportTime, 17);
    EXPECT_EQ(s.m_nSent, 55);
    EXPECT_EQ(s.m_strReportPhone, "prior");
    EXPECT_EQ(s.m_bLogFile, 0);
    // A short file is not an error: it is neither replaced nor reported.
    EXPECT_EQ(ReadAll(path), bytes);
    EXPECT_TRUE(captured.messages.empty());
}

TEST_F(SettingsFile, FieldCutInTheMiddleKeepsItsValue) {
    std::string bytes = EncodeSettings(DistinctRecord());
    CSettings s;
    s.m_strSelectSql = "prior select";
    WriteAll(path, bytes.substr(0, 148 + 100));
    EXPECT_EQ(LoadSettingsFile(s, path), 1);
    EXPECT_EQ(s.m_strDbPassword, "pass9");
    EXPECT_EQ(s.m_strSelectSql, "prior select");

    CSettings t;
    WriteAll(path, bytes.substr(0, 918));
    EXPECT_EQ(LoadSettingsFile(t, path), 1);
    EXPECT_EQ(t.m_strInsertSql, "insert 12");
    EXPECT_EQ(t.m_nQueryInterval, 10);
}

TEST_F(SettingsFile, EmptyFileKeepsEveryValue) {
    WriteAll(path, "");
    CSettings s;
    EXPECT_EQ(LoadSettingsFile(s, path), 1);
    EXPECT_EQ(s.m_strDsn, "");
    EXPECT_EQ(s.m_nQueryInterval, 10);
    EXPECT_EQ(s.m_bLogFile, 0);
}

TEST_F(SettingsFile, LongFileReadsTo1016) {
    std::string bytes = EncodeSettings(DistinctRecord());
    std::string tail(2000 - 1016, '\xAB');
    WriteAll(path, bytes + tail);
    CSettings s;
    EXPECT_EQ(LoadSettingsFile(s, path), 1);
    CSettings expect = DistinctRecord();
    expect.m_bLogFile = 0;
    EXPECT_EQ(EncodeSettings(s), EncodeSettings(expect));
}

// Settings that exist but cannot be read are never replaced: not at the load, not after a
// reload, not by the saves of the counters. The error names the file and the reason.
TEST_F(SettingsFile, UnreadableFilesAreNeitherTakenNorReplaced) {
    const std::string conf = dir.file("Pellwick.conf");
    struct Case {
        const char* name;
        std::function<void()> spoil;
        std::string error;
    };
    const Case cases[] = {
        {"settings file is a folder", [&] { fs::remove(path), fs::create_directory(path); }, path + ": Is a directory"},
        {"conf file is a folder", [&] { fs::remove(conf), fs::create_directory(conf); }, conf + ": Is a directory"},
        // Its tail holds a real statement: cut, the next save would erase it.
        {"conf file over its limit",
         [&] { WriteAll(conf, "# " + std::string(64 * 1024, 'x') + "\nclaim_sql=update smsout set status=9\n"); },
         conf + ": longer than 65536 bytes"},
    };
    auto files = [&] {
        auto one = [](const std::string& p) { return fs::is_directory(p) ? std::string("<folder>") : ReadAll(p); };
        return one(path) + "|" + one(conf);
    };
    for (const Case& c : cases) {
        fs::remove_all(path), fs::remove_all(conf);
        SetSettingsPath(path);
        theSettings = CSettings();
        ASSERT_EQ(LoadSettings(), 0) << c.name;
        c.spoil();
        const std::string before = files();

        // The running gateway: a reload request, then a counter's save.
        SyncSettings(true);
        theSettings.m_nSent = 6;
        EXPECT_EQ(SaveSettings(), 0) << c.name;

        CSettings s = DistinctRecord();
        std::string error;
        EXPECT_EQ(LoadSettingsFile(s, path, &error), -1) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(EncodeSettings(s), EncodeSettings(DistinctRecord())) << c.name;

        // A gateway starting on them.
        theSettings = CSettings();
        EXPECT_EQ(LoadSettings(), -1) << c.name;
        EXPECT_EQ(theSettings.m_strDsn, "") << c.name;
        EXPECT_EQ(SaveSettings(), 0) << c.name;
        EXPECT_EQ(files(), before) << c.name;
    }
    EXPECT_TRUE(captured.messages.empty());
}

TEST_F(SettingsFile, SaveIntoMissingFolderReportsError) {
    CSettings s = DistinctRecord();
    EXPECT_EQ(SaveSettingsFile(s, dir.file("no/such/Pellwick.ini")), 0);
    ASSERT_EQ(captured.messages.size(), 1u);
    // The message names the file and the reason.
    EXPECT_EQ(captured.messages[0].first,
              "Save configure file error. (" + dir.file("no/such/Pellwick.ini") + ": No such file or directory)");
    EXPECT_EQ(s.m_nPort, 101);
}

TEST_F(SettingsFile, FailedSaveKeepsTheOldFile) {
    CSettings old = DistinctRecord();
    ASSERT_EQ(SaveSettingsFile(old, path), 1);
    const std::string before = ReadAll(path);

    // A file-size limit below the record makes the write fail as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    CSettings changed = DistinctRecord();
    changed.m_nSent = 999;
    int result = SaveSettingsFile(changed, path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadAll(path), before);
    ASSERT_EQ(captured.messages.size(), 1u);
    EXPECT_EQ(captured.messages[0].first, "Save configure file error. (" + path + ": File too large)");
    // No temporary file is left behind: the record and Pellwick.conf only.
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

TEST_F(SettingsFile, SaveReplacesModeOfAnExistingFile) {
    WriteAll(path, std::string(1016, '\0'));
    fs::permissions(path, fs::perms::all);
    ASSERT_EQ(SaveSettingsFile(DistinctRecord(), path), 1);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(SettingsFile, ConcurrentSavesAndLoadsSeeWholeRecords) {
    CSettings a = DistinctRecord();
    CSettings b = DistinctRecord();
    b.m_nSent = 5000;
    b.m_strInsertSql = std::string(200, 'b');
    a.m_bLogFile = b.m_bLogFile = 0;
    ASSERT_EQ(SaveSettingsFile(a, path), 1);
    const std::string encA = EncodeSettings(a), encB = EncodeSettings(b);

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done) {
            CSettings s;
            if (LoadSettingsFile(s, path) != 1) {
                ++torn;
                continue;
            }
            std::string enc = EncodeSettings(s);
            if (enc != encA && enc != encB) ++torn;
        }
    });
    std::thread writerA([&] {
        for (int i = 0; i < 100; ++i) SaveSettingsFile(a, path);
    });
    std::thread writerB([&] {
        for (int i = 0; i < 100; ++i) SaveSettingsFile(b, path);
    });
    writerA.join();
    writerB.join();
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_TRUE(captured.messages.empty());
}

TEST_F(SettingsFile, ProcessRecordUsesTheSetPath) {
    SetSettingsPath(path);
    EXPECT_EQ(GetSettingsPath(), path);
    theSettings = CSettings();
    EXPECT_EQ(LoadSettings(), 0);
    EXPECT_EQ(theSettings.m_strDsn, "DADIvav");
    theSettings.m_nSent = 42;
    EXPECT_EQ(SaveSettings(), 1);
    EXPECT_EQ(IntAt(ReadAll(path), 1000), 42);
    theSettings = CSettings();
    EXPECT_EQ(LoadSettings(), 1);
    EXPECT_EQ(theSettings.m_nSent, 42);
    EXPECT_EQ(theSettings.m_bLogFile, 0);
}
