#include "shell/Entry.h"

#include "config/Settings.h"
#include "link/LogFile.h"
#include "shell/DialogHost.h"
#include "shell/Names.h"
#include "shell/OdbcSetup.h"
#include "shell/ServiceCommands.h"
#include "shell/ServiceProcess.h"

#include <cerrno>
#include <climits>
#include <strings.h>
#include <syslog.h>
#include <unistd.h>

CommandSwitch ParseCommandLine(int argc, const char* const* argv) {
    if (argc < 2 || !argv[1]) return CommandSwitch::Usage;
    const char* arg = argv[1];
    if (arg[0] != '-' && arg[0] != '/') return CommandSwitch::Usage;
    const char* name = arg + 1;
    struct Entry {
        const char* name;
        CommandSwitch command;
    };
    static const Entry kSwitches[] = {
        {"install", CommandSwitch::Install}, {"remove", CommandSwitch::Remove},
        {"start", CommandSwitch::Start},     {"stop", CommandSwitch::Stop},
        {"win9x", CommandSwitch::Win9x},     {"debug", CommandSwitch::Debug},
    };
    for (const Entry& e : kSwitches)
        if (::strcasecmp(name, e.name) == 0) return e.command;
    return CommandSwitch::Usage;
}

void PrintUsage(std::FILE* out, const std::string& programName) {
    const char* name = programName.c_str();
    std::fprintf(out, "%s -install          to install the service\n", name);
    std::fprintf(out, "%s -remove           to remove the service\n", name);
    std::fprintf(out, "%s -start            to start the service\n", name);
    std::fprintf(out, "%s -stop             to stop the service\n", name);
    std::fprintf(out, "%s -debug            to run as a console app for debugging\n", name);
    std::fflush(out);
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
    const std::string executable = ExecutablePath();
    const std::string folder = FolderOf(executable);
    if (::chdir(folder.c_str()) != 0) std::perror(folder.c_str());
    theLog.SetFileName(folder + "/Pellwick.log");
    SetSettingsPath(folder + "/Pellwick.ini");
    ::openlog(SYSLOG_IDENTIFIER, LOG_PID, LOG_DAEMON);

    CSdNotifier notifier;
    CSyslogEventLog eventLog;
    CServiceProcess* self = nullptr;
    CServiceProcess process(SERVICE_NAME, DISPLAY_NAME, notifier, eventLog, stdout,
                            [&self, argc, argv] { return RunMainDialog(*self, argc, argv); });
    self = &process;

    switch (ParseCommandLine(argc, argv)) {
    case CommandSwitch::Install: {
        COdbcInstaller installer;
        installer.AddDataSource(folder + "/DADIvav.db");
        CreateDemoDatabase(folder + "/DADIvav.db");
        ProcessServiceCommands().InstallService(executable);
        return 0;
    }
    case CommandSwitch::Remove: {
        COdbcInstaller installer;
        installer.RemoveDataSource();
        ProcessServiceCommands().RemoveService();
        return 0;
    }
    case CommandSwitch::Start:
        ProcessServiceCommands().StartInstalledService();
        return 0;
    case CommandSwitch::Stop:
        ProcessServiceCommands().StopInstalledService();
        return 0;
    case CommandSwitch::Debug:
        theLog.SetEnabled(1);
        [[fallthrough]];
    case CommandSwitch::Win9x:
        process.m_bForeground = 1;
        process.RunInForeground();
        return 0;
    case CommandSwitch::Usage:
        break;
    }

    PrintUsage(stdout, PROGRAM_NAME);
    if (!process.StartServiceCtrlDispatcher()) {
        process.LogServiceError("StartServiceCtrlDispatcher failed.");
        return 0;
    }
    // Started by the service manager: the stopped report's exit code ends the process.
    return process.ExitCode();
}
