#include "shell/LastError.h"
#include "shell/ServiceAccount.h"
#include "shell/ServiceCommands.h"
#include "shell/ServiceUnit.h"
#include "shell/SystemdServiceManager.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <pwd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A service manager that answers from a script and records what it was asked.
class FakeServiceManager : public IServiceManager {
public:
    bool connectOk = true;
    bool openOk = true;
    bool createOk = true;
    bool deleteOk = true;
    bool startAccepted = true;
    bool stopAccepted = true;
    std::deque<ServiceState> states;  // answers to QueryState; empty = query fails
    std::vector<std::string> calls;
    ServiceDefinition created;

    bool Connect() override { return Answer("Connect", connectOk, EACCES, "Access denied"); }
    bool OpenService(const std::string& name) override {
        return Answer("OpenService " + name, openOk, ENOENT, "Unit not found.");
    }
    bool CreateService(const ServiceDefinition& d) override {
        created = d;
        return Answer("CreateService", createOk, EEXIST, "");
    }
    bool DeleteService() override { return Answer("DeleteService", deleteOk, EBUSY, ""); }
    bool StartService() override { return Answer("StartService", startAccepted, EALREADY, ""); }
    bool StopService() override { return Answer("StopService", stopAccepted, ESRCH, ""); }
    bool QueryState(ServiceState& state) override {
        calls.push_back("QueryState");
        if (states.empty()) {
            SetLastErrorCode(EIO);
            return false;
        }
        state = states.front();
        states.pop_front();
        return true;
    }
    bool SetAutoStart(bool automatic) override {
        return Answer(automatic ? "SetAutoStart on" : "SetAutoStart off", true, 0, "");
    }

private:
    bool Answer(const std::string& call, bool ok, int code, const std::string& message) {
        calls.push_back(call);
        if (!ok) SetLastErrorCode(code, message);
        return ok;
    }
};

struct ServiceCommandsTest : ::testing::Test {
    FakeServiceManager manager;
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    int waits = 0;
    CServiceCommands commands{manager, out, "Orvane Pellwick", "Orvane Pellwick", [this] { ++waits; }};

    ~ServiceCommandsTest() override {
        std::fclose(out);
        std::free(buffer);
    }
    std::string Output() {
        std::fflush(out);
        return std::string(buffer, size);
    }
};

using S = ServiceState;

}  // namespace

TEST_F(ServiceCommandsTest, InstallSuccess) {
    commands.InstallService("/opt/orvane-pellwick/pellwick");
    EXPECT_EQ(Output(), "Orvane Pellwick installed.\n");
    EXPECT_EQ(manager.created.name, "Orvane Pellwick");
    EXPECT_EQ(manager.created.executable, "/opt/orvane-pellwick/pellwick");
    EXPECT_EQ(manager.created.workingDirectory, "/opt/orvane-pellwick");
    EXPECT_TRUE(manager.created.autoStart);
}

TEST_F(ServiceCommandsTest, InstallFailures) {
    manager.createOk = false;
    commands.InstallService("/opt/x/pellwick");
    EXPECT_EQ(Output(), "CreateService failed - File exists (0x11)\n");

    FakeServiceManager refused;
    refused.connectOk = false;
    CServiceCommands other(refused, out, "Orvane Pellwick", "Orvane Pellwick", [] {});
    other.InstallService("/opt/x/pellwick");
    EXPECT_EQ(Output(), "CreateService failed - File exists (0x11)\nOpenSCManager failed - Access denied (0xd)\n");
    EXPECT_EQ(refused.calls, std::vector<std::string>{"Connect"});
}

TEST_F(ServiceCommandsTest, InstallWithoutExecutablePath) {
    SetLastErrorCode(ENAMETOOLONG);
    commands.InstallService("");
    EXPECT_EQ(Output(), "Unable to install Orvane Pellwick - File name too long (0x24)\n");
    EXPECT_TRUE(manager.calls.empty());
}

TEST_F(ServiceCommandsTest, RemoveRunningServiceStopsWithDotsThenDeletes) {
    manager.states = {S::StopPending, S::StopPending, S::Stopped};
    commands.RemoveService();
    EXPECT_EQ(Output(),
              "Stopping Orvane Pellwick...\n"
              "Orvane Pellwick stopped.\n"
              "Orvane Pellwick removed.\n");
    EXPECT_EQ(waits, 3);
    EXPECT_EQ(manager.calls.back(), "DeleteService");
}

TEST_F(ServiceCommandsTest, RemoveStoppedServiceOnlyDeletes) {
    manager.stopAccepted = false;
    commands.RemoveService();
    EXPECT_EQ(Output(), "Orvane Pellwick removed.\n");
    EXPECT_EQ(waits, 0);
}

TEST_F(ServiceCommandsTest, RemoveFailures) {
    manager.stopAccepted = false;
    manager.deleteOk = false;
    commands.RemoveService();
    EXPECT_EQ(Output(), "DeleteService failed - Device or resource busy (0x10)\n");
}

TEST_F(ServiceCommandsTest, RemoveWhenStopDoesNotFinish) {
    manager.states = {S::StopPending, S::Running};
    commands.RemoveService();
    EXPECT_EQ(Output(),
              "Stopping Orvane Pellwick..\n"
              "Orvane Pellwick failed to stop.\n"
              "Orvane Pellwick removed.\n");
}

TEST_F(ServiceCommandsTest, OpenFailuresForEveryCommand) {
    struct Case {
        bool connect;
        std::string expected;
    };
    for (const Case& c : {Case{false, "OpenSCManager failed - Access denied (0xd)\n"},
                          Case{true, "OpenService failed - Unit not found. (0x2)\n"}}) {
        for (int command = 0; command < 4; ++command) {
            FakeServiceManager m;
            m.connectOk = c.connect;
            m.openOk = false;
            char* buf = nullptr;
            std::size_t len = 0;
            std::FILE* stream = ::open_memstream(&buf, &len);
            CServiceCommands cmds(m, stream, "Orvane Pellwick", "Orvane Pellwick", [] {});
            switch (command) {
            case 0: cmds.RemoveService(); break;
            case 1: cmds.StartInstalledService(); break;
            case 2: cmds.StopInstalledService(); break;
            case 3: cmds.SetServiceAutoStart(true); break;
            }
            std::fclose(stream);
            EXPECT_EQ(std::string(buf, len), c.expected) << command;
            std::free(buf);
            // Nothing else is attempted after an open failure.
            EXPECT_LE(m.calls.size(), 2u);
        }
    }
}

TEST_F(ServiceCommandsTest, StartWithDots) {
    manager.states = {S::StartPending, S::Running};
    commands.StartInstalledService();
    EXPECT_EQ(Output(), "Starting Orvane Pellwick..\nOrvane Pellwick started.\n");
    EXPECT_EQ(waits, 2);
}

TEST_F(ServiceCommandsTest, StartThatFails) {
    manager.states = {S::Stopped};
    commands.StartInstalledService();
    EXPECT_EQ(Output(), "Starting Orvane Pellwick.\nOrvane Pellwick failed to start.\n");
}

TEST_F(ServiceCommandsTest, RefusedStartPrintsTheReasonAndFails) {
    manager.startAccepted = false;
    EXPECT_FALSE(commands.StartInstalledService());
    EXPECT_EQ(Output().rfind("StartService failed - ", 0), 0u) << Output();
    EXPECT_EQ(waits, 0);
}

TEST_F(ServiceCommandsTest, StopWithDotsAndRefusedStop) {
    manager.states = {S::StopPending, S::Stopped};
    commands.StopInstalledService();
    EXPECT_EQ(Output(), "Stopping Orvane Pellwick..\nOrvane Pellwick stopped.\n");
    EXPECT_EQ(std::count(manager.calls.begin(), manager.calls.end(), "DeleteService"), 0);

    FakeServiceManager stopped;
    stopped.stopAccepted = false;
    CServiceCommands other(stopped, out, "Orvane Pellwick", "Orvane Pellwick", [] {});
    EXPECT_FALSE(other.StopInstalledService());
    EXPECT_EQ(Output().rfind("Stopping Orvane Pellwick..\nOrvane Pellwick stopped.\nControlService failed - ", 0), 0u)
        << Output();
}

TEST_F(ServiceCommandsTest, StopWhenTheStateCannotBeRead) {
    commands.StopInstalledService();
    EXPECT_EQ(Output(), "Stopping Orvane Pellwick.\nOrvane Pellwick failed to stop.\n");
}

TEST_F(ServiceCommandsTest, AutoStartChangesOnlyTheStartType) {
    commands.SetServiceAutoStart(true);
    commands.SetServiceAutoStart(false);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(manager.calls, (std::vector<std::string>{"Connect", "OpenService Orvane Pellwick", "SetAutoStart on",
                                                        "Connect", "OpenService Orvane Pellwick",
                                                        "SetAutoStart off"}));
}

// The unit and the template of the named instances, for a hand-made install and for the
// packaged one; systemd itself must accept the hand-made ones, with a folder name that
// needs escaping.
TEST(SystemdUnit, UnitFileText) {
    TempDir dir;
    const std::string folder = dir.path() + "/orvane pellwick/100%";
    const std::string escaped = dir.path() + "/orvane pellwick/100%%";
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "' && cp /bin/true '" + folder + "/pellwick'").c_str()), 0);
    struct Case {
        std::string executable, folder, instance;
        std::vector<std::string> present, absent;
    };
    const Case cases[] = {
        {folder + "/pellwick", folder, "",
         {"Description=Orvane Pellwick\n", "ExecStart=\"" + escaped + "/pellwick\"\n", "WorkingDirectory=" + escaped + "\n",
          "ReadWritePaths=\"" + escaped + "\"\n", "ProtectHome=read-only\n"},
         {"StateDirectory="}},
        {PACKAGED_EXECUTABLE, "/usr/bin", "",
         {"ExecStart=\"/usr/bin/pellwick\"\n", "User=pellwick\n", "SupplementaryGroups=dialout\n",
          "StateDirectory=orvane-pellwick\n", "WorkingDirectory=/var/lib/orvane-pellwick\n", "ProtectHome=yes\n"},
         {"ReadWritePaths="}},
        // The template: every instance in a folder of its own, made by the gateway inside
        // the executable's folder, or by systemd inside the packaged state folder.
        {folder + "/pellwick", folder, "sim2",
         {"Description=Orvane Pellwick %i\n", "ExecStart=\"" + escaped + "/pellwick\" -instance %i\n",
          "WorkingDirectory=" + escaped + "\n", "ReadWritePaths=\"" + escaped + "\"\n", "ProtectHome=read-only\n"},
         {"StateDirectory="}},
        {PACKAGED_EXECUTABLE, "/usr/bin", "sim2",
         {"Description=Orvane Pellwick %i\n", "ExecStart=\"/usr/bin/pellwick\" -instance %i\n", "User=pellwick\n",
          "StateDirectory=orvane-pellwick/%i\n", "WorkingDirectory=/var/lib/orvane-pellwick/%i\n", "ProtectHome=yes\n"},
         {"ReadWritePaths="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable + " " + c.instance);
        ServiceDefinition d;
        d.displayName = "Orvane Pellwick";
        d.executable = c.executable;
        d.workingDirectory = c.folder;
        d.instance = c.instance;
        const std::string text = ServiceUnitText(d);
        for (const std::string& line : c.present) EXPECT_NE(text.find("\n" + line), std::string::npos) << line;
        for (const std::string& line : c.absent) EXPECT_EQ(text.find("\n" + line), std::string::npos) << line;
        // One template for every instance: the name it was written for is nowhere in it.
        EXPECT_TRUE(c.instance.empty() || text.find(c.instance) == std::string::npos);
        for (const char* line : {"Type=notify\n", "WatchdogSec=5min\n", "Restart=on-failure\n",
                                 "Documentation=man:pellwick(8)\n", "User=pellwick\n", "SupplementaryGroups=dialout\n", "LimitCORE=0\n",
                                 "DevicePolicy=closed\n", "DeviceAllow=char-ttyUSB rw\n",
                                 "After=network-online.target postgresql.service mariadb.service\n",
                                 "ExecReload=/bin/kill -HUP $MAINPID\n", "WantedBy=multi-user.target\n"})
            EXPECT_NE(text.find(line), std::string::npos) << line;
    }

    // systemd reads the hand-made units as written, the template as the instance sim2 (the
    // packaged ones are verified with the package).
    if (std::system("command -v systemd-analyze >/dev/null") != 0) GTEST_SKIP() << "no systemd-analyze";
#ifdef PW_MAN_FOLDER
    const std::string manPath = std::string("MANPATH=") + PW_MAN_FOLDER + " ";
#else
    const std::string manPath;
#endif
    for (const std::string instance : {"", "sim2"}) {
        ServiceDefinition d;
        d.displayName = "Orvane Pellwick";
        d.executable = cases[0].executable;
        d.workingDirectory = folder;
        d.instance = instance;
        const std::string unit = dir.path() + (instance.empty() ? "/orvane-pellwick.service" : "/orvane-pellwick@sim2.service");
        std::ofstream(unit) << ServiceUnitText(d);
        EXPECT_EQ(std::system((manPath + "systemd-analyze verify '" + unit + "' 2>" + dir.path() + "/verify.txt").c_str()),
                  0);
        std::ifstream errors(dir.path() + "/verify.txt");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(errors), {}), "") << unit;
    }

    // The sandbox of every unit, as systemd rates its exposure (0 to 10): at most 2.0.
    for (const Case& c : cases) {
        ServiceDefinition d;
        d.executable = c.executable;
        d.workingDirectory = c.folder;
        d.instance = c.instance;
        const std::string unit = dir.path() + (c.instance.empty() ? "/rated.service" : "/rated@sim2.service");
        std::ofstream(unit) << ServiceUnitText(d);
        const std::string report = dir.path() + "/security.txt";
        ASSERT_EQ(std::system(("systemd-analyze security --offline=true '" + unit + "' >" + report + " 2>&1").c_str()), 0);
        std::ifstream in(report);
        const std::string text(std::istreambuf_iterator<char>(in), {});
        const std::string marker = "Overall exposure level for ";
        const std::size_t at = text.find(marker);
        ASSERT_NE(at, std::string::npos) << text;
        const std::size_t colon = text.find(": ", at);
        ASSERT_NE(colon, std::string::npos) << text;
        EXPECT_LE(std::stod(text.substr(colon + 2)), 2.0) << c.executable << " " << c.instance << "\n" << text;
    }
}

// Only a system account that cannot log in may run a hand-made service, and only a
// folder of its own is given to it.
TEST(SystemdUnit, AccountAndFolderRefusal) {
    struct Case {
        uid_t uid;
        const char* shell;
        bool accepted;
    };
    for (const Case& c : {Case{998, "/usr/sbin/nologin", true}, Case{120, "/bin/false", true},
                          Case{1000, "/usr/sbin/nologin", false}, Case{0, "/usr/sbin/nologin", false},
                          Case{998, "/bin/bash", false}, Case{998, "", false}}) {
        const std::string refusal = AccountRefusal(c.uid, c.shell);
        EXPECT_EQ(refusal.empty(), c.accepted) << c.uid << " " << c.shell << ": " << refusal;
    }
    for (const auto& [folder, accepted] :
         {std::pair{"/opt/orvane-pellwick", true}, std::pair{"/srv/sms/gateway", true}, std::pair{"/usr/local/bin", false},
          std::pair{"/usr", false}, std::pair{"/", false}, std::pair{"/opt", false}, std::pair{"/etc/pellwick", false},
          std::pair{"/root", false}, std::pair{"relative", false}})
        EXPECT_EQ(FolderRefusal(folder).empty(), accepted) << folder;
    // Someone else's home folder (Debian's nobody lives in /nonexistent).
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    EXPECT_NE(FolderRefusal(nobody->pw_dir).find(" is the home folder of "), std::string::npos);
}

TEST(SystemdUnit, NoSystemBusGivesOpenFailure) {
    const char* saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    std::string savedValue = saved ? saved : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/pellwick-test-bus", 1);
    CSystemdServiceManager manager;
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* stream = ::open_memstream(&buf, &len);
    CServiceCommands commands(manager, stream, "Orvane Pellwick", "Orvane Pellwick", [] {});
    commands.StartInstalledService();
    std::fclose(stream);
    if (saved)
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", savedValue.c_str(), 1);
    else
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    EXPECT_EQ(std::string(buf, len), "OpenSCManager failed - No such file or directory (0x2)\n");
    std::free(buf);
}
