#include "shell/Entry.h"
#include "shell/LastError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

CommandLine Parse(std::vector<const char*> args) {
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
        std::vector<const char*> args;
        CommandSwitch expected;
        std::string home;
    };
    const Case cases[] = {
        {{"-install"}, CommandSwitch::Install, ""},
        {{"/INSTALL"}, CommandSwitch::Install, ""},
        {{"-remove"}, CommandSwitch::Remove, ""},
        {{"/Remove"}, CommandSwitch::Remove, ""},
        {{"-start"}, CommandSwitch::Start, ""},
        {{"/sTaRt"}, CommandSwitch::Start, ""},
        {{"/STOP"}, CommandSwitch::Stop, ""},
        {{"-Stop"}, CommandSwitch::Stop, ""},
        {{"-stop", "-install"}, CommandSwitch::Stop, ""},  // only the first switch counts
        {{"-win9x"}, CommandSwitch::Win9x, ""},
        {{"/WIN9X"}, CommandSwitch::Win9x, ""},
        {{"-debug"}, CommandSwitch::Debug, ""},
        {{"/Debug"}, CommandSwitch::Debug, ""},
        {{"-show"}, CommandSwitch::Show, ""},
        {{"--help"}, CommandSwitch::Help, ""},
        {{"-h"}, CommandSwitch::Help, ""},
        {{"-HELP"}, CommandSwitch::Help, ""},
        {{"--version"}, CommandSwitch::Version, ""},
        {{}, CommandSwitch::Service, ""},
        {{"-home", "/var/lib/x"}, CommandSwitch::Service, "/var/lib/x"},
        {{"-home", "a", "/home", "b", "-debug"}, CommandSwitch::Debug, "b"},
        {{"-home", "h", "-show"}, CommandSwitch::Show, "h"},
    };
    for (const Case& c : cases) {
        const CommandLine line = Parse(c.args);
        const std::string first = c.args.empty() ? "" : c.args[0];
        EXPECT_EQ(line.command, c.expected) << first;
        EXPECT_EQ(line.home, c.home) << first;
        EXPECT_EQ(line.error, "") << first;
    }
}

// -instance NAME before or after the switch; with no switch, the instance's service body.
TEST(CommandLine, InstanceBeforeOrAfterTheSwitch) {
    struct Case {
        std::vector<const char*> args;
        CommandSwitch expected;
        std::string home, instance;
        std::vector<std::string> assignments;
    };
    const std::string longest(64, 'x');
    const Case cases[] = {
        {{"-install", "-instance", "sim2"}, CommandSwitch::Install, "", "sim2", {}},
        {{"-instance", "sim2", "-debug"}, CommandSwitch::Debug, "", "sim2", {}},
        {{"-home", "d", "-instance", "sim2", "-show"}, CommandSwitch::Show, "d", "sim2", {}},
        {{"/INSTANCE", "a.B_c-9", "-home", "d"}, CommandSwitch::Service, "d", "a.B_c-9", {}},
        {{"-instance", "sim2"}, CommandSwitch::Service, "", "sim2", {}},
        {{"-instance", "sim2", "-set", "dsn=a"}, CommandSwitch::Set, "", "sim2", {"dsn=a"}},
        {{"-set", "dsn=a", "-instance", "x", "pin=1"}, CommandSwitch::Set, "", "x", {"dsn=a", "pin=1"}},
        {{"-instance", "a", "-stop", "-instance", "b"}, CommandSwitch::Stop, "", "b", {}},
        {{"-instance", longest.c_str(), "-start"}, CommandSwitch::Start, "", longest, {}},
        {{"-remove"}, CommandSwitch::Remove, "", "", {}},
    };
    for (const Case& c : cases) {
        const CommandLine line = Parse(c.args);
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(line.command, c.expected);
        EXPECT_EQ(line.home, c.home);
        EXPECT_EQ(line.instance, c.instance);
        EXPECT_EQ(line.assignments, c.assignments);
        EXPECT_EQ(line.error, "");
    }
}

TEST(CommandLine, SetTakesTheAssignmentsThatFollow) {
    const CommandLine line = Parse({"-home", "h", "-set", "dsn=Sales", "pin=1234"});
    EXPECT_EQ(line.command, CommandSwitch::Set);
    EXPECT_EQ(line.assignments, (std::vector<std::string>{"dsn=Sales", "pin=1234"}));
}

TEST(CommandLine, SendTakesANumberAndATextAndStatusNothing) {
    const CommandLine send = Parse({"-instance", "a", "-send", "+4917", "two words", "-instance", "b"});
    EXPECT_EQ(send.command, CommandSwitch::Send);
    EXPECT_EQ(send.message, (std::vector<std::string>{"+4917", "two words"}));
    EXPECT_EQ(send.instance, "b");
    EXPECT_EQ(Parse({"/STATUS"}).command, CommandSwitch::Status);
}

TEST(CommandLine, AnythingElseIsUnknownWithItsReason) {
    struct Case {
        std::vector<const char*> args;
        std::string error;
    };
    auto badName = [](const std::string& name) {
        return "invalid instance name '" + name +
               "': letters, digits, '.', '-' and '_', at most 64, not starting with '.' or '-'";
    };
    const std::string tooLong(65, 'x');
    const Case cases[] = {
        {{"-x"}, "unknown option '-x'"},
        {{"stop"}, "unknown option 'stop'"},
        {{"--stop"}, "unknown option '--stop'"},
        {{"-stopp"}, "unknown option '-stopp'"},
        {{"/"}, "unknown option '/'"},
        {{""}, "unknown option ''"},
        {{"+debug"}, "unknown option '+debug'"},
        {{"-debug "}, "unknown option '-debug '"},
        {{"--Help"}, "unknown option '--Help'"},
        {{"-set"}, "option '-set' needs NAME=VALUE"},
        {{"-send", "+4917"}, "option '-send' needs NUMBER and TEXT (quote a text with blanks)"},
        {{"-send", "+4917", "two", "words"}, "option '-send' needs NUMBER and TEXT (quote a text with blanks)"},
        {{"-home"}, "option '-home' needs a folder"},
        {{"-home", ""}, "option '-home' needs a folder"},
        {{"-instance"}, "option '-instance' needs a name"},
        {{"-stop", "/Instance"}, "option '/Instance' needs a name"},
        {{"-instance", "", "-show"}, "option '-instance' needs a name"},
        {{"-instance", "../x", "-show"}, badName("../x")},
        {{"-show", "-instance", "a/b"}, badName("a/b")},
        {{"-instance", ".hidden"}, badName(".hidden")},
        {{"-instance", "-install"}, badName("-install")},
        {{"-instance", "sim 2"}, badName("sim 2")},
        {{"-instance", "sim@2"}, badName("sim@2")},
        {{"-instance", "s\xc3\xa4"}, badName("s\xc3\xa4")},
        {{"-instance", tooLong.c_str()}, badName(tooLong)},
    };
    for (const Case& c : cases) {
        const CommandLine line = Parse(c.args);
        EXPECT_EQ(line.command, CommandSwitch::Unknown) << c.args[0];
        EXPECT_EQ(line.error, c.error) << c.args[0];
    }
}

TEST(CommandLine, UsageNamesTheCommandAndEverySwitch) {
    std::string text = Capture([](std::FILE* out) { PrintUsage(out, "./pellwick"); });
    EXPECT_EQ(text.rfind("./pellwick -install          to install the service\n"
                         "./pellwick -remove           to remove the service\n"
                         "./pellwick -start            to start the service\n"
                         "./pellwick -stop             to stop the service\n"
                         "./pellwick -debug            to run as a console app for debugging\n"
                         "./pellwick -win9x            ",
                         0),
              0u)
        << text;
    for (const char* name : {" -show ", " -set NAME=VALUE ", " -status ", " -send NUMBER TEXT ", " -home DIR ", " -instance NAME ", " --version ", " --help"})
        EXPECT_NE(text.find(name), std::string::npos) << name;
}

TEST(CommandLine, StateFolderFromOptionEnvironmentOrExecutable) {
    ::unsetenv("PELLWICK_HOME");
    ::unsetenv("STATE_DIRECTORY");
    EXPECT_EQ(ChooseStateFolder("", "/opt/orvane-pellwick"), "/opt/orvane-pellwick");
    ::setenv("STATE_DIRECTORY", "/var/lib/orvane-pellwick:/var/lib/other", 1);
    EXPECT_EQ(ChooseStateFolder("", "/usr/bin"), "/var/lib/orvane-pellwick");
    ::setenv("PELLWICK_HOME", "/srv/sms/", 1);
    EXPECT_EQ(ChooseStateFolder("", "/usr/bin"), "/srv/sms");
    EXPECT_EQ(ChooseStateFolder("/tmp/h", "/usr/bin"), "/tmp/h");
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(ChooseStateFolder("rel", "/usr/bin"), std::string(cwd) + "/rel");
    ::unsetenv("PELLWICK_HOME");
    ::unsetenv("STATE_DIRECTORY");
}

// An instance's folder is its name inside the folder chosen as without one, except
// systemd's STATE_DIRECTORY, which the template unit already makes the instance's own.
TEST(CommandLine, InstanceStateFolder) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    struct Case {
        const char *home, *pellwickHome, *stateDirectory, *executableFolder;
        std::string expected;
    };
    const Case cases[] = {
        {"", nullptr, nullptr, "/opt/orvane-pellwick", "/opt/orvane-pellwick/sim2"},
        {"", nullptr, nullptr, "/", "/sim2"},
        {"/srv/sms/", nullptr, "/var/lib/orvane-pellwick/sim2", "/usr/bin", "/srv/sms/sim2"},
        {"", "rel", "/var/lib/orvane-pellwick/sim2", "/usr/bin", std::string(cwd) + "/rel/sim2"},
        {"", nullptr, "/var/lib/orvane-pellwick/sim2:/var/lib/other", "/usr/bin", "/var/lib/orvane-pellwick/sim2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        for (auto [name, value] : {std::pair{"PELLWICK_HOME", c.pellwickHome}, {"STATE_DIRECTORY", c.stateDirectory}}) {
            if (value)
                ::setenv(name, value, 1);
            else
                ::unsetenv(name);
        }
        EXPECT_EQ(ChooseStateFolder(c.home, c.executableFolder, "sim2"), c.expected);
    }
    ::unsetenv("PELLWICK_HOME");
    ::unsetenv("STATE_DIRECTORY");
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
