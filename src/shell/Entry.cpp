#include "shell/Entry.h"

#include "config/SettingsFile.h"
#include "link/ComPort.h"
#include "link/Journal.h"
#include "link/LogFile.h"
#include "shell/DialogHost.h"
#include "shell/GatewayState.h"
#include "shell/Names.h"
#include "shell/OdbcSetup.h"
#include "shell/ServiceCommands.h"
#include "shell/ServiceProcess.h"
#include "shell/ServiceUnit.h"
#include "shell/SendCommand.h"
#include "shell/SettingsCommands.h"
#include "shell/StatusFile.h"
#include "state/StateFolder.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <malloc.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr sqlite3_int64 SQLITE_CACHE_BYTES = 3 << 20;

bool IsSwitch(const char* arg, const char* name) {
    return (arg[0] == '-' || arg[0] == '/') && ::strcasecmp(arg + 1, name) == 0;
}

extern "C" void OnReloadSignal(int) { RequestSettingsReload(); }

}  // namespace

bool IsInstanceName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.' || name[0] == '-') return false;
    for (char c : name)
        if (!(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9') && c != '.' && c != '-' &&
            c != '_')
            return false;
    return true;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    auto fail = [&line](std::string error) {
        line.command = CommandSwitch::Unknown;
        line.error = std::move(error);
        return line;
    };
    // The value of the option at argv[k]; empty when there is none.
    auto value = [argc, argv](int k) { return std::string(k + 1 < argc && argv[k + 1] ? argv[k + 1] : ""); };
    // -instance NAME at argv[k]: false with the error when the name is missing or bad.
    auto takeInstance = [&](int k) {
        line.instance = value(k);
        if (line.instance.empty()) line.error = std::string("option '") + argv[k] + "' needs a name";
        else if (!IsInstanceName(line.instance))
            line.error = "invalid instance name '" + line.instance +
                         "': letters, digits, '.', '-' and '_', at most 64, not starting with '.' or '-'";
        return line.error.empty();
    };
    int i = 1;
    for (; i < argc && argv[i]; i += 2) {
        if (IsSwitch(argv[i], "instance")) {
            if (!takeInstance(i)) return fail(line.error);
        } else if (IsSwitch(argv[i], "home")) {
            line.home = value(i);
            if (line.home.empty()) return fail(std::string("option '") + argv[i] + "' needs a folder");
        } else {
            break;
        }
    }
    if (i >= argc || !argv[i]) return line;
    const char* arg = argv[i];
    struct Entry {
        const char* name;
        CommandSwitch command;
    };
    static const Entry kSwitches[] = {
        {"install", CommandSwitch::Install}, {"remove", CommandSwitch::Remove}, {"start", CommandSwitch::Start},
        {"stop", CommandSwitch::Stop},       {"win9x", CommandSwitch::Win9x},   {"debug", CommandSwitch::Debug},
        {"show", CommandSwitch::Show},       {"set", CommandSwitch::Set},       {"help", CommandSwitch::Help},
        {"h", CommandSwitch::Help},          {"status", CommandSwitch::Status}, {"send", CommandSwitch::Send},
    };
    line.command = CommandSwitch::Unknown;
    if (std::strcmp(arg, "--help") == 0) line.command = CommandSwitch::Help;
    if (std::strcmp(arg, "--version") == 0) line.command = CommandSwitch::Version;
    for (const Entry& e : kSwitches)
        if (IsSwitch(arg, e.name)) line.command = e.command;
    if (line.command == CommandSwitch::Unknown) return fail(std::string("unknown option '") + arg + "'");
    for (int k = i + 1; k < argc && argv[k]; ++k) {
        if (IsSwitch(argv[k], "instance")) {
            if (!takeInstance(k++)) return fail(line.error);
        } else if (line.command == CommandSwitch::Set) {
            line.assignments.push_back(argv[k]);
        } else if (line.command == CommandSwitch::Send) {
            line.message.push_back(argv[k]);
        }
    }
    if (line.command == CommandSwitch::Set && line.assignments.empty())
        return fail(std::string("option '") + arg + "' needs NAME=VALUE");
    if (line.command == CommandSwitch::Send && line.message.size() != 2)
        return fail(std::string("option '") + arg + "' needs NUMBER and TEXT (quote a text with blanks)");
    return line;
}

void PrintUsage(std::FILE* out, const std::string& command) {
    static const char* const kLines[][2] = {
        {"-install", "to install the service"},
        {"-remove", "to remove the service"},
        {"-start", "to start the service"},
        {"-stop", "to stop the service"},
        {"-debug", "to run as a console app for debugging"},
        {"-win9x", "to run as a console app without the log file"},
        {"-show", "to print every setting as name=value"},
        {"-set NAME=VALUE ...", "to change settings, checked as the configuration window checks them"},
        {"-status", "to print what the gateway on this state folder is doing (exit 3: none runs)"},
        {"-send NUMBER TEXT", "to queue one message in the outbox (outbox_insert_sql) and print its id"},
        {"-home DIR <switch>", "to keep settings, PIN, journal and log in DIR (or PELLWICK_HOME)"},
        {"-instance NAME <switch>", "to run or control the service instance NAME, with a state folder of its own"},
        {"--version", "to print the version"},
        {"--help, -h, -help", "to print this text"},
    };
    for (const auto& line : kLines) {
        const int width = static_cast<int>(std::strlen(line[0]));
        std::fprintf(out, "%s %s%*s%s\n", command.c_str(), line[0], width < 18 ? 18 - width : 1, "", line[1]);
    }
    std::fflush(out);
}

std::string ChooseStateFolder(const std::string& home, const std::string& executableFolder,
                              const std::string& instance) {
    std::string folder = home;
    bool ownFolder = false;  // systemd's, made for the instance
    if (folder.empty()) {
        if (const char* value = std::getenv("PELLWICK_HOME")) folder = value;
    }
    if (folder.empty()) {
        // systemd's StateDirectory= may name several folders, separated by colons.
        if (const char* value = std::getenv("STATE_DIRECTORY")) folder = std::string(value).substr(0, std::strcspn(value, ":"));
        ownFolder = !folder.empty();
    }
    if (folder.empty()) {
        folder = executableFolder;
    } else {
        if (folder[0] != '/') {
            char cwd[PATH_MAX];
            if (::getcwd(cwd, sizeof cwd)) folder = std::string(cwd) + "/" + folder;
        }
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    }
    if (instance.empty() || ownFolder) return folder;
    return (folder == "/" ? "" : folder) + "/" + instance;
}

std::string ExecutablePath() {
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

int PellwickMain(int argc, char** argv) {
    const std::string typed = argc > 0 && argv[0] ? argv[0] : "pellwick";
    const std::string program = typed.substr(typed.rfind('/') + 1);
    const CommandLine line = ParseCommandLine(argc, argv);
    switch (line.command) {
    case CommandSwitch::Help:
        PrintUsage(stdout, typed);
        return 0;
    case CommandSwitch::Version:
        std::printf("pellwick %s\n", PELLWICK_VERSION);
        return 0;
    case CommandSwitch::Unknown:
        std::fprintf(stderr, "%s: %s\n", program.c_str(), line.error.c_str());
        PrintUsage(stderr, typed);
        return 2;
    default:
        break;
    }

    // Every file the gateway creates holds messages or secrets.
    ::umask(077);
    const std::string executable = ExecutablePath();
    const std::string folder = FolderOf(executable);
    const bool instance = !line.instance.empty();
    // An installed gateway keeps its state where its service does, never beside the program.
    const bool installed = folder.ends_with("/usr/bin");
    const std::string home = ChooseStateFolder(line.home, installed ? STATE_FOLDER : folder, line.instance);
    auto makeFolder = [&program](const std::string& path) {
        if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
        std::fprintf(stderr, "%s: cannot create %s: %s\n", program.c_str(), path.c_str(), std::strerror(errno));
        return false;
    };
    // Commands that only read the state folder never create it.
    const bool reads = line.command == CommandSwitch::Show || line.command == CommandSwitch::Status ||
                       line.command == CommandSwitch::Send;
    if (!reads && ((instance && !makeFolder(FolderOf(home))) || !makeFolder(home))) return 1;
    SetNamedInstance(instance);
    SetServiceInstance(line.instance);
    if (::chdir(folder.c_str()) != 0) std::perror(folder.c_str());
    theLog.SetFileName(home + "/Pellwick.log");
    SetSettingsPath(home + "/Pellwick.ini");
    // A read-only installation keeps its COMn links in the state folder too.
    CComPort::SetDefaultDeviceFolder(home);

    CSdNotifier notifier;
    CSyslogEventLog eventLog;
    CServiceProcess* self = nullptr;
    const std::string displayName = instance ? std::string(DISPLAY_NAME) + " " + line.instance : DISPLAY_NAME;
    CServiceProcess process(SERVICE_NAME, displayName, notifier, eventLog, stdout,
                            [&self, argc, argv] { return RunMainDialog(*self, argc, argv); });
    self = &process;

    switch (line.command) {
    case CommandSwitch::Show:
        if (const std::string unsafe = FolderUnsafeReason(home, true); !unsafe.empty())
            std::fprintf(stderr, "%s: warning: the state folder is not safe: %s\n", program.c_str(), unsafe.c_str());
        return ShowSettings(stdout, program, stderr);
    case CommandSwitch::Set:
        if (const std::string unsafe = FolderUnsafeReason(home, true); !unsafe.empty()) {
            std::fprintf(stderr, "%s: the state folder is not safe: %s; nothing saved\n", program.c_str(),
                         unsafe.c_str());
            return 2;
        }
        return SetSettings(line.assignments, program, stderr);
    case CommandSwitch::Status:
        return PrintGatewayStatus(home, stdout, stderr);
    case CommandSwitch::Send:
        return QueueMessage(line.message[0], line.message[1], program, stdout, stderr);
    case CommandSwitch::Install: {
        COdbcInstaller installer;
        installer.AddDataSource(home + "/DADIvav.db");
        CreateDemoDatabase(home + "/DADIvav.db");
        return ProcessServiceCommands().InstallService(executable) ? 0 : 1;
    }
    case CommandSwitch::Remove: {
        // The one demonstration data source may serve the other instances too: it stays.
        COdbcInstaller installer;
        if (!instance) installer.RemoveDataSource();
        return ProcessServiceCommands().RemoveService() ? 0 : 1;
    }
    case CommandSwitch::Start:
        return ProcessServiceCommands().StartInstalledService() ? 0 : 1;
    case CommandSwitch::Stop:
        return ProcessServiceCommands().StopInstalledService() ? 0 : 1;
    default:
        break;
    }

    // A gateway about to run holds its folder first: a second one on it, or a folder that is
    // not safe, ends here before anything in the folder or the modem is touched.
    const bool runs = line.command == CommandSwitch::Debug || line.command == CommandSwitch::Win9x ||
                      (line.command == CommandSwitch::Service && notifier.Available());
    if (runs) {
        // The PIN and the database password stay out of core dumps and other users' reach.
        ::prctl(PR_SET_DUMPABLE, 0);
        // A dozen threads of short work: without a bound each could grow a malloc arena of
        // its own that stays resident.
        ::mallopt(M_ARENA_MAX, 2);
        // SQLite's page caches, of every connection in the process (the state store's and
        // the SQLite driver's), together: each would otherwise keep up to 2 MB of a growing
        // outbox table.
        ::sqlite3_soft_heap_limit64(SQLITE_CACHE_BYTES);
        if (const int refused = TakeStateFolder(home, program, stderr)) return refused;
        // Settings that exist but cannot be read are never replaced by defaults.
        if (const int unreadable = CheckSettingsReadable(program, stderr)) return unreadable;
    }

    // systemctl reload: the settings are read again at once.
    struct sigaction reload {};
    reload.sa_handler = OnReloadSignal;
    sigemptyset(&reload.sa_mask);
    reload.sa_flags = SA_RESTART;
    ::sigaction(SIGHUP, &reload, nullptr);

    switch (line.command) {
    case CommandSwitch::Debug:
        theLog.SetEnabled(1);
        [[fallthrough]];
    case CommandSwitch::Win9x:
        process.m_bForeground = 1;
        process.RunInForeground();
        return 0;
    default:
        break;
    }

    // Under systemd the usage would only fill the journal at every start.
    if (!notifier.Available()) PrintUsage(stdout, typed);
    if (!process.StartServiceCtrlDispatcher()) {
        process.LogServiceError("StartServiceCtrlDispatcher failed.");
        return 0;
    }
    // Started by the service manager: the stopped report's exit code ends the process.
    return process.ExitCode();
}
