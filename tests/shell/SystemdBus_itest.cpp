// The systemd service manager layer against a scripted systemd on a private D-Bus
// daemon: the real sd-bus calls, the unit file and the console messages.
#include "shell/LastError.h"
#include "shell/Names.h"
#include "shell/ServiceCommands.h"
#include "shell/ServiceUnit.h"
#include "shell/SystemdServiceManager.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char* UNIT = "orvane-pellwick.service";
constexpr const char* UNIT_OBJECT = "/org/freedesktop/systemd1/unit/orvane_2dpellwick_2eservice";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A message bus of our own, ended with the test.
class BusDaemon {
public:
    explicit BusDaemon(const TempDir& dir) : m_socket(dir.file("bus")) {
        const std::string config = dir.file("bus.conf");
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><type>session</type><listen>unix:path="
                              << m_socket
                              << "</listen><auth>EXTERNAL</auth>"
                                 "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                                 "</policy></busconfig>\n";
        std::string program = "dbus-daemon", configArg = "--config-file=" + config, nofork = "--nofork";
        char* argv[] = {program.data(), configArg.data(), nofork.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, dir.file("bus.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::posix_spawnp(&m_pid, "dbus-daemon", &actions, nullptr, argv, environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        // The socket file appears at bind, a moment before the daemon listens: wait until a
        // client gets through.
        for (int i = 0; i < 800 && m_pid > 0 && !Accepts(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ~BusDaemon() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool running() const { return m_pid > 0 && fs::exists(m_socket); }
    bool Accepts() const {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_socket.c_str());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0) ::close(fd);
        return ok;
    }
    std::string address() const { return "unix:path=" + m_socket; }

private:
    std::string m_socket;
    pid_t m_pid = -1;
};

// The file a unit is loaded from: the template "a@.service" for an instance "a@b.service".
std::string UnitFileOf(const std::string& unit) {
    const std::size_t at = unit.find('@');
    return at == std::string::npos ? unit : unit.substr(0, at + 1) + ".service";
}

// The part of systemd's manager and unit interfaces the layer uses, answering from a
// script: each read of ActiveState takes the next scripted state, then repeats the last.
// Enabling makes the link in multi-user.target.wants that systemd makes; the unit loaded
// last is found when its file is in the unit folder.
class FakeSystemd {
public:
    FakeSystemd(const std::string& address, std::string unitFolder) : m_unitFolder(std::move(unitFolder)) {
        sd_bus_new(&m_bus);
        sd_bus_set_address(m_bus, address.c_str());
        sd_bus_set_bus_client(m_bus, 1);
        m_ok = sd_bus_start(m_bus) >= 0 &&
               sd_bus_add_object_vtable(m_bus, nullptr, "/org/freedesktop/systemd1",
                                        "org.freedesktop.systemd1.Manager", kManager, this) >= 0 &&
               sd_bus_add_object_vtable(m_bus, nullptr, UNIT_OBJECT, "org.freedesktop.systemd1.Unit", kUnit,
                                        this) >= 0 &&
               sd_bus_request_name(m_bus, "org.freedesktop.systemd1", 0) >= 0;
        if (m_ok) m_thread = std::thread([this] { Serve(); });
    }
    ~FakeSystemd() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        sd_bus_flush_close_unref(m_bus);
    }
    bool ok() const { return m_ok; }

    void Script(std::deque<std::string> states) {
        std::lock_guard lock(m_mutex);
        m_states = std::move(states);
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    void Serve() {
        while (!m_stop) {
            if (sd_bus_process(m_bus, nullptr) > 0) continue;
            sd_bus_wait(m_bus, 50000);
        }
    }
    void Record(std::string call) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    static FakeSystemd& Self(void* userdata) { return *static_cast<FakeSystemd*>(userdata); }

    static int Version(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
        return sd_bus_message_append(reply, "s", "252");
    }
    static int LoadState(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                         sd_bus_error*) {
        FakeSystemd& self = Self(userdata);
        std::lock_guard lock(self.m_mutex);
        bool present = fs::exists(self.m_unitFolder + "/" + UnitFileOf(self.m_loaded));
        return sd_bus_message_append(reply, "s", present ? "loaded" : "not-found");
    }
    static int ActiveState(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                           sd_bus_error*) {
        FakeSystemd& self = Self(userdata);
        std::lock_guard lock(self.m_mutex);
        if (self.m_states.size() > 1) {
            self.m_current = self.m_states.front();
            self.m_states.pop_front();
        } else if (!self.m_states.empty()) {
            self.m_current = self.m_states.front();
        }
        return sd_bus_message_append(reply, "s", self.m_current.c_str());
    }
    static int Job(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
        return sd_bus_message_append(reply, "(uo)", 0u, "/");
    }
    static int LoadUnit(sd_bus_message* m, void* userdata, sd_bus_error*) {
        const char* name = nullptr;
        sd_bus_message_read(m, "s", &name);
        Self(userdata).Record(std::string("LoadUnit ") + name);
        std::lock_guard lock(Self(userdata).m_mutex);
        Self(userdata).m_loaded = name;
        return sd_bus_reply_method_return(m, "o", UNIT_OBJECT);
    }
    static int StartStop(sd_bus_message* m, void* userdata, sd_bus_error*) {
        const char *name = nullptr, *mode = nullptr;
        sd_bus_message_read(m, "ss", &name, &mode);
        Self(userdata).Record(std::string(sd_bus_message_get_member(m)) + " " + name + " " + mode);
        return sd_bus_reply_method_return(m, "o", "/org/freedesktop/systemd1/job/1");
    }
    static int Reload(sd_bus_message* m, void* userdata, sd_bus_error*) {
        Self(userdata).Record("Reload");
        return sd_bus_reply_method_return(m, "");
    }
    static int UnitFiles(sd_bus_message* m, void* userdata, sd_bus_error*) {
        char** files = nullptr;
        sd_bus_message_read_strv(m, &files);
        std::string member = sd_bus_message_get_member(m);
        std::string call = member;
        const std::string wants = Self(userdata).m_unitFolder + "/multi-user.target.wants";
        std::error_code error;
        fs::create_directory(wants, error);
        for (char** f = files; f && *f; ++f) {
            call += std::string(" ") + *f;
            fs::remove(wants + "/" + *f, error);
            if (member == "EnableUnitFiles")
                fs::create_symlink(Self(userdata).m_unitFolder + "/" + UnitFileOf(*f), wants + "/" + *f, error);
            std::free(*f);
        }
        std::free(files);
        int runtime = -1, force = -1;
        if (member == "EnableUnitFiles") {
            sd_bus_message_read(m, "bb", &runtime, &force);
            call += " runtime=" + std::to_string(runtime) + " force=" + std::to_string(force);
            Self(userdata).Record(call);
            return sd_bus_reply_method_return(m, "ba(sss)", 1, 0);
        }
        sd_bus_message_read(m, "b", &runtime);
        call += " runtime=" + std::to_string(runtime);
        Self(userdata).Record(call);
        return sd_bus_reply_method_return(m, "a(sss)", 0);
    }

    static const sd_bus_vtable kManager[];
    static const sd_bus_vtable kUnit[];

    std::string m_unitFolder;
    sd_bus* m_bus = nullptr;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::deque<std::string> m_states;
    std::string m_current = "inactive";
    std::string m_loaded;
    std::vector<std::string> m_calls;
};

const sd_bus_vtable FakeSystemd::kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "s", FakeSystemd::Version, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("LoadUnit", "s", "o", FakeSystemd::LoadUnit, 0),
    SD_BUS_METHOD("StartUnit", "ss", "o", FakeSystemd::StartStop, 0),
    SD_BUS_METHOD("StopUnit", "ss", "o", FakeSystemd::StartStop, 0),
    SD_BUS_METHOD("Reload", "", "", FakeSystemd::Reload, 0),
    SD_BUS_METHOD("EnableUnitFiles", "asbb", "ba(sss)", FakeSystemd::UnitFiles, 0),
    SD_BUS_METHOD("DisableUnitFiles", "asb", "a(sss)", FakeSystemd::UnitFiles, 0),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable FakeSystemd::kUnit[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("LoadState", "s", FakeSystemd::LoadState, 0, 0),
    SD_BUS_PROPERTY("ActiveState", "s", FakeSystemd::ActiveState, 0, 0),
    SD_BUS_PROPERTY("Job", "(uo)", FakeSystemd::Job, 0, 0),
    SD_BUS_VTABLE_END,
};

struct SystemdBus : ::testing::Test {
    TempDir dir;
    BusDaemon daemon{dir};
    std::string unitFolder = dir.file("units");
    std::unique_ptr<FakeSystemd> systemd;
    std::string savedAddress;
    bool hadAddress = false;

    void SetUp() override {
        ASSERT_TRUE(daemon.running());
        fs::create_directory(unitFolder);
        systemd = std::make_unique<FakeSystemd>(daemon.address(), unitFolder);
        ASSERT_TRUE(systemd->ok());
        const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
        hadAddress = old != nullptr;
        if (old) savedAddress = old;
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", daemon.address().c_str(), 1);
    }
    void TearDown() override {
        if (hadAddress)
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", savedAddress.c_str(), 1);
        else
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    // Runs one console command with a fresh connection, as one process would.
    std::string Run(const std::function<void(CServiceCommands&)>& command, const std::string& instance = {},
                    CSystemdServiceManager::AccountPreparation prepare = nullptr) {
        CSystemdServiceManager manager(unitFolder, UnitNameFor(instance), std::move(prepare));
        char* buffer = nullptr;
        std::size_t size = 0;
        std::FILE* out = ::open_memstream(&buffer, &size);
        CServiceCommands commands(manager, out, "Orvane Pellwick", "Orvane Pellwick", [] {}, instance);
        command(commands);
        std::fclose(out);
        std::string text(buffer, size);
        std::free(buffer);
        return text;
    }
    void WriteUnit() { std::ofstream(unitFolder + "/" + UNIT) << "[Service]\n"; }
};

}  // namespace

// The account the service runs as is prepared for the executable's folder first; a
// refused account leaves no unit behind.
TEST_F(SystemdBus, InstallWritesTheUnitAndEnablesIt) {
    std::vector<std::string> prepared;
    auto install = [](CServiceCommands& c) { c.InstallService("/opt/orvane-pellwick/pellwick"); };
    EXPECT_EQ(Run(install, {},
                  [&](const std::string& folder) {
                      prepared.push_back(folder);
                      SetLastErrorCode(EEXIST, "The existing account pellwick cannot run the service.");
                      return false;
                  }),
              "CreateService failed - The existing account pellwick cannot run the service. (0x11)\n");
    EXPECT_FALSE(fs::exists(unitFolder + "/" + UNIT));
    EXPECT_TRUE(systemd->Calls().empty());
    EXPECT_EQ(Run(install, {},
                  [&](const std::string& folder) {
                      prepared.push_back(folder);
                      return true;
                  }),
              "Orvane Pellwick installed.\n");
    EXPECT_EQ(prepared, (std::vector<std::string>{"/opt/orvane-pellwick", "/opt/orvane-pellwick"}));
    ServiceDefinition d;
    d.displayName = "Orvane Pellwick";
    d.executable = "/opt/orvane-pellwick/pellwick";
    d.workingDirectory = "/opt/orvane-pellwick";
    EXPECT_EQ(ReadFile(unitFolder + "/" + UNIT), ServiceUnitText(d));
    EXPECT_EQ(systemd->Calls(),
              (std::vector<std::string>{"Reload", "EnableUnitFiles orvane-pellwick.service runtime=0 force=1", "Reload",
                                        "LoadUnit orvane-pellwick.service"}));

    EXPECT_EQ(Run([](CServiceCommands& c) { c.InstallService("/opt/orvane-pellwick/pellwick"); }),
              "CreateService failed - Unit orvane-pellwick.service already exists. (0x11)\n");
}

TEST_F(SystemdBus, MissingUnitIsAnOpenFailure) {
    EXPECT_EQ(Run([](CServiceCommands& c) { c.StartInstalledService(); }),
              "OpenService failed - Unit orvane-pellwick.service not found. (0x2)\n");
}

TEST_F(SystemdBus, StartPollsUntilRunning) {
    WriteUnit();
    systemd->Script({"inactive", "activating", "activating", "active"});
    EXPECT_EQ(Run([](CServiceCommands& c) { c.StartInstalledService(); }),
              "Starting Orvane Pellwick...\nOrvane Pellwick started.\n");
    std::vector<std::string> calls = systemd->Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "StartUnit orvane-pellwick.service replace"), calls.end());
}

TEST_F(SystemdBus, StartOfARunningServiceIsRefusedWithTheReason) {
    WriteUnit();
    systemd->Script({"active"});
    EXPECT_EQ(Run([](CServiceCommands& c) { EXPECT_FALSE(c.StartInstalledService()); }),
              "StartService failed - Unit orvane-pellwick.service is already running. (0x72)\n");
    for (const std::string& call : systemd->Calls()) EXPECT_EQ(call.find("StartUnit"), std::string::npos);
}

TEST_F(SystemdBus, StartThatEndsInFailure) {
    WriteUnit();
    systemd->Script({"inactive", "activating", "failed"});
    EXPECT_EQ(Run([](CServiceCommands& c) { c.StartInstalledService(); }),
              "Starting Orvane Pellwick..\nOrvane Pellwick failed to start.\n");
}

TEST_F(SystemdBus, RemoveStopsDisablesAndDeletes) {
    WriteUnit();
    systemd->Script({"active", "deactivating", "inactive"});
    EXPECT_EQ(Run([](CServiceCommands& c) { c.RemoveService(); }),
              "Stopping Orvane Pellwick..\nOrvane Pellwick stopped.\nOrvane Pellwick removed.\n");
    EXPECT_FALSE(fs::exists(unitFolder + "/" + UNIT));
    std::vector<std::string> calls = systemd->Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "StopUnit orvane-pellwick.service replace"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "DisableUnitFiles orvane-pellwick.service runtime=0"),
              calls.end());
    EXPECT_EQ(calls.back(), "Reload");
}

TEST_F(SystemdBus, StopOfAStoppedServiceIsRefusedWithTheReason) {
    WriteUnit();
    systemd->Script({"inactive"});
    EXPECT_EQ(Run([](CServiceCommands& c) { EXPECT_FALSE(c.StopInstalledService()); }),
              "ControlService failed - Unit orvane-pellwick.service is not active. (0x3)\n");
    systemd->Script({"inactive"});
    EXPECT_EQ(Run([](CServiceCommands& c) { c.RemoveService(); }), "Orvane Pellwick removed.\n");
}

TEST_F(SystemdBus, AutoStartEnablesOrDisablesTheUnit) {
    WriteUnit();
    EXPECT_EQ(Run([](CServiceCommands& c) { c.SetServiceAutoStart(false); }), "");
    EXPECT_EQ(Run([](CServiceCommands& c) { c.SetServiceAutoStart(true); }), "");
    std::vector<std::string> calls = systemd->Calls();
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "LoadUnit orvane-pellwick.service", "DisableUnitFiles orvane-pellwick.service runtime=0",
                         "Reload", "LoadUnit orvane-pellwick.service",
                         "EnableUnitFiles orvane-pellwick.service runtime=0 force=1", "Reload"}));
}

// Named instances share the template: the first install writes it (an older text is
// brought up to date), each install enables its own instance, and the template goes
// only with the last enabled instance.
TEST_F(SystemdBus, InstancesShareTheTemplateUntilTheLastIsRemoved) {
    const std::string templateFile = unitFolder + "/orvane-pellwick@.service";
    const std::string wants = unitFolder + "/multi-user.target.wants/";
    auto install = [this](const std::string& instance, const std::string& executable) {
        return Run([&executable](CServiceCommands& c) { c.InstallService(executable); }, instance);
    };
    auto start = [](CServiceCommands& c) { c.StartInstalledService(); };
    auto remove = [](CServiceCommands& c) { c.RemoveService(); };
    std::ofstream(templateFile) << "[Service]\n";
    EXPECT_EQ(install("sim1", "/opt/orvane-pellwick/pellwick"), "Orvane Pellwick sim1 installed.\n");
    EXPECT_EQ(install("sim2", "/opt/orvane-pellwick/pellwick"), "Orvane Pellwick sim2 installed.\n");
    ServiceDefinition d;
    d.displayName = "Orvane Pellwick";
    d.executable = "/opt/orvane-pellwick/pellwick";
    d.workingDirectory = "/opt/orvane-pellwick";
    d.instance = "any";
    EXPECT_EQ(ReadFile(templateFile), ServiceUnitText(d));
    EXPECT_EQ(install("sim1", "/opt/orvane-pellwick/pellwick"),
              "CreateService failed - Unit orvane-pellwick@sim1.service is already enabled. (0x11)\n");
    // Another program's template would move the enabled instances away from their state.
    EXPECT_EQ(install("sim3", "/usr/bin/pellwick"),
              "CreateService failed - Unit orvane-pellwick@.service starts another program for the enabled "
              "instances. (0x11)\n");
    EXPECT_EQ(ReadFile(templateFile), ServiceUnitText(d));
    EXPECT_FALSE(fs::exists(wants + "orvane-pellwick@sim3.service"));

    systemd->Script({"inactive", "activating", "active"});
    EXPECT_EQ(Run(start, "sim1"), "Starting Orvane Pellwick sim1..\nOrvane Pellwick sim1 started.\n");
    systemd->Script({"active", "deactivating", "inactive"});
    EXPECT_EQ(Run(remove, "sim1"),
              "Stopping Orvane Pellwick sim1..\nOrvane Pellwick sim1 stopped.\nOrvane Pellwick sim1 removed.\n");
    EXPECT_FALSE(fs::exists(wants + "orvane-pellwick@sim1.service"));
    EXPECT_TRUE(fs::exists(wants + "orvane-pellwick@sim2.service"));
    EXPECT_EQ(ReadFile(templateFile), ServiceUnitText(d));

    // The window's auto-start acts on its own instance.
    EXPECT_EQ(Run([](CServiceCommands& c) { c.SetServiceAutoStart(false); }, "sim2"), "");
    EXPECT_EQ(Run([](CServiceCommands& c) { c.SetServiceAutoStart(true); }, "sim2"), "");
    EXPECT_TRUE(fs::exists(wants + "orvane-pellwick@sim2.service"));
    EXPECT_EQ(Run(remove, "sim2"), "Orvane Pellwick sim2 removed.\n");
    EXPECT_FALSE(fs::exists(templateFile));
    EXPECT_EQ(Run(start, "sim2"), "OpenService failed - Unit orvane-pellwick@sim2.service not found. (0x2)\n");

    const std::vector<std::string> calls = systemd->Calls();
    for (const char* call : {"EnableUnitFiles orvane-pellwick@sim1.service runtime=0 force=1",
                             "StartUnit orvane-pellwick@sim1.service replace", "StopUnit orvane-pellwick@sim1.service replace",
                             "DisableUnitFiles orvane-pellwick@sim1.service runtime=0",
                             "DisableUnitFiles orvane-pellwick@sim2.service runtime=0",
                             "EnableUnitFiles orvane-pellwick@sim2.service runtime=0 force=1"})
        EXPECT_NE(std::find(calls.begin(), calls.end(), call), calls.end()) << call;
    for (const std::string& call : calls) EXPECT_EQ(call.find(UNIT), std::string::npos) << call;
}
