#include "shell/Entry.h"
#include "shell/LastError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

CommandSwitch Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "pellwick");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

std::string Capture(const std::function<void(std::FILE*)>& write) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    write(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

}  // namespace

TEST(CommandLine, SwitchesWithEitherPrefixInAnyCase) {
    struct Case {
        const char* arg;
        CommandSwitch expected;
    };
    const Case cases[] = {
        {"-install", CommandSwitch::Install}, {"/INSTALL", CommandSwitch::Install},
        {"-remove", CommandSwitch::Remove},   {"/Remove", CommandSwitch::Remove},
        {"-start", CommandSwitch::Start},     {"/sTaRt", CommandSwitch::Start},
        {"/STOP", CommandSwitch::Stop},       {"-Stop", CommandSwitch::Stop},
        {"-stop", CommandSwitch::Stop},       {"-win9x", CommandSwitch::Win9x},
        {"/WIN9X", CommandSwitch::Win9x},     {"-debug", CommandSwitch::Debug},
        {"/Debug", CommandSwitch::Debug},
    };
    for (const Case& c : cases) EXPECT_EQ(Parse({c.arg}), c.expected) << c.arg;
}

TEST(CommandLine, AnythingElseIsUsage) {
    for (const char* arg : {"stop", "-help", "--stop", "-stopp", "-sto", "/", "-", "", "\\stop", "+debug", "-debug "})
        EXPECT_EQ(Parse({arg}), CommandSwitch::Usage) << arg;
    EXPECT_EQ(Parse({}), CommandSwitch::Usage);
}

TEST(CommandLine, OnlyTheFirstArgumentCounts) {
    EXPECT_EQ(Parse({"-stop", "-install"}), CommandSwitch::Stop);
    EXPECT_EQ(Parse({"x", "-install"}), CommandSwitch::Usage);
}

TEST(CommandLine, UsageTextHasFiveLinesWithoutWin9x) {
    std::string text = Capture([](std::FILE* out) { PrintUsage(out, "Orvane Pellwick"); });
    EXPECT_EQ(text,
              "Orvane Pellwick -install          to install the service\n"
              "Orvane Pellwick -remove           to remove the service\n"
              "Orvane Pellwick -start            to start the service\n"
              "Orvane Pellwick -stop             to stop the service\n"
              "Orvane Pellwick -debug            to run as a console app for debugging\n");
}

TEST(CommandLine, FolderOfPath) {
    EXPECT_EQ(FolderOf("/opt/orvane-pellwick/pellwick"), "/opt/orvane-pellwick");
    EXPECT_EQ(FolderOf("/pellwick"), "/");
    EXPECT_EQ(FolderOf("pellwick"), ".");
    std::string self = ExecutablePath();
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(self.substr(self.rfind('/') + 1), "test_shell");
}

TEST(LastError, FormatsTextAndHexCode) {
    SetLastErrorCode(ENOENT);
    EXPECT_EQ(FormatLastError(), "No such file or directory (0x2)");
    SetLastErrorCode(ENOTCONN, "Not started by the service manager\r\n");
    EXPECT_EQ(FormatLastError(), "Not started by the service manager (0x6b)");
    SetLastErrorCode(EACCES, "Access denied");
    EXPECT_EQ(FormatLastError(), "Access denied (0xd)");
}

TEST(LastError, EmptyWhenNoTextOrTooSmall) {
    SetLastErrorCode(0);
    EXPECT_EQ(FormatLastError(), "");
    SetLastErrorCode(EACCES, "Access denied");  // 13 characters: needs a size of 27
    EXPECT_EQ(FormatLastError(26), "");
    EXPECT_EQ(FormatLastError(27), "Access denied (0xd)");
}
