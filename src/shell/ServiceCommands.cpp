#include "shell/ServiceCommands.h"

#include "shell/Entry.h"
#include "shell/LastError.h"
#include "shell/Names.h"
#include "shell/ServiceAccount.h"
#include "shell/SystemdServiceManager.h"

#include <chrono>
#include <thread>

CServiceCommands::CServiceCommands(IServiceManager& manager, std::FILE* out, std::string serviceName,
                                   std::string displayName, std::function<void()> wait, std::string instance)
    : m_manager(manager),
      m_out(out),
      m_strServiceName(std::move(serviceName)),
      m_strDescription(std::move(displayName)),
      m_strDisplayName(instance.empty() ? m_strDescription : m_strDescription + " " + instance),
      m_strInstance(std::move(instance)),
      m_wait(std::move(wait)) {}

void CServiceCommands::Print(const char* format, const std::string& text) {
    std::fprintf(m_out, format, text.c_str());
    std::fflush(m_out);
}

void CServiceCommands::Print(const char* format, const std::string& first, const std::string& second) {
    std::fprintf(m_out, format, first.c_str(), second.c_str());
    std::fflush(m_out);
}

bool CServiceCommands::OpenManagerAndService() {
    if (!m_manager.Connect()) {
        Print("OpenSCManager failed - %s\n", FormatLastError());
        return false;
    }
    if (!m_manager.OpenService(m_strServiceName)) {
        Print("OpenService failed - %s\n", FormatLastError());
        return false;
    }
    return true;
}

bool CServiceCommands::InstallService(const std::string& executable) {
    if (executable.empty()) {
        Print("Unable to install %s - %s\n", m_strDisplayName, FormatLastError());
        return false;
    }
    if (!m_manager.Connect()) {
        Print("OpenSCManager failed - %s\n", FormatLastError());
        return false;
    }
    ServiceDefinition definition;
    definition.name = m_strServiceName;
    definition.displayName = m_strDescription;
    definition.executable = executable;
    definition.workingDirectory = FolderOf(executable);
    definition.autoStart = true;
    definition.instance = m_strInstance;
    if (m_manager.CreateService(definition)) {
        Print("%s installed.\n", m_strDisplayName);
        return true;
    }
    Print("CreateService failed - %s\n", FormatLastError());
    return false;
}

bool CServiceCommands::StopAndWait() {
    if (!m_manager.StopService()) return false;
    Print("Stopping %s.", m_strDisplayName);
    m_wait();
    ServiceState state = ServiceState::StopPending;
    while (m_manager.QueryState(state) && state == ServiceState::StopPending) {
        Print("%s", ".");
        m_wait();
    }
    m_bStopped = state == ServiceState::Stopped;
    if (m_bStopped)
        Print("\n%s stopped.\n", m_strDisplayName);
    else
        Print("\n%s failed to stop.\n", m_strDisplayName);
    return true;
}

bool CServiceCommands::RemoveService() {
    if (!OpenManagerAndService()) return false;
    StopAndWait();
    if (m_manager.DeleteService()) {
        Print("%s removed.\n", m_strDisplayName);
        return true;
    }
    Print("DeleteService failed - %s\n", FormatLastError());
    return false;
}

bool CServiceCommands::StartInstalledService() {
    if (!OpenManagerAndService()) return false;
    if (!m_manager.StartService()) {
        Print("StartService failed - %s\n", FormatLastError());
        return false;
    }
    Print("Starting %s.", m_strDisplayName);
    m_wait();
    ServiceState state = ServiceState::StartPending;
    while (m_manager.QueryState(state) && state == ServiceState::StartPending) {
        Print("%s", ".");
        m_wait();
    }
    if (state == ServiceState::Running) {
        Print("\n%s started.\n", m_strDisplayName);
        return true;
    }
    Print("\n%s failed to start.\n", m_strDisplayName);
    return false;
}

bool CServiceCommands::StopInstalledService() {
    if (!OpenManagerAndService()) return false;
    if (StopAndWait()) return m_bStopped;
    Print("ControlService failed - %s\n", FormatLastError());
    return false;
}

void CServiceCommands::SetServiceAutoStart(bool on) {
    if (!OpenManagerAndService()) return;
    m_manager.SetAutoStart(on);
}

namespace {
std::string s_instance;
}

void SetServiceInstance(const std::string& name) { s_instance = name; }

CServiceCommands& ProcessServiceCommands() {
    static CSystemdServiceManager manager(UNIT_FOLDER, UnitNameFor(s_instance), PrepareServiceAccount);
    static CServiceCommands commands(
        manager, stdout, SERVICE_NAME, DISPLAY_NAME, [] { std::this_thread::sleep_for(std::chrono::seconds(1)); },
        s_instance);
    return commands;
}

void SetServiceAutoStart(int on) { ProcessServiceCommands().SetServiceAutoStart(on != 0); }
