#pragma once
// The console commands -install, -remove, -start and -stop against the service manager,
// with their messages on a stream, and the start-type change of the configuration window.
#include "shell/ServiceManager.h"

#include <cstdio>
#include <functional>
#include <string>

class CServiceCommands {
public:
    // `wait` pauses between two state polls (one second in production). With an instance
    // name the commands act on that instance; the messages name it after the display name.
    CServiceCommands(IServiceManager& manager, std::FILE* out, std::string serviceName,
                     std::string displayName, std::function<void()> wait, std::string instance = {});

    // Each is true when the command did what it was asked; otherwise it has printed why.
    bool InstallService(const std::string& executable);
    bool RemoveService();
    bool StartInstalledService();
    bool StopInstalledService();
    void SetServiceAutoStart(bool on);

private:
    bool OpenManagerAndService();
    // Sends the stop request and reports its progress; false when it was refused.
    bool StopAndWait();
    void Print(const char* format, const std::string& text);
    void Print(const char* format, const std::string& first, const std::string& second);

    IServiceManager& m_manager;
    std::FILE* m_out;
    std::string m_strServiceName;
    std::string m_strDescription;  // the unit's; the template adds the instance name itself
    std::string m_strDisplayName;  // in the messages: the description and the instance name
    std::string m_strInstance;
    std::function<void()> m_wait;
    bool m_bStopped = false;  // the last accepted stop request ended in the stopped state
};

// The instance the process runs as (-instance NAME; empty for none): its commands act on
// orvane-pellwick@NAME.service. Set before the first ProcessServiceCommands.
void SetServiceInstance(const std::string& name);
// The process's commands: systemd, standard output, one-second polls.
CServiceCommands& ProcessServiceCommands();

// Called by the configuration window's Apply: automatic start when on, on demand when off.
void SetServiceAutoStart(int on);
