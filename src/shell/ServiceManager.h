#pragma once
// The service manager as the console commands see it. The real one is systemd over
// D-Bus (SystemdServiceManager); tests put a scripted fake in its place.
#include <string>

enum class ServiceState { Stopped, StartPending, StopPending, Running };

struct ServiceDefinition {
    std::string name;              // the service name
    std::string displayName;
    std::string executable;        // full path, started with no argument
    std::string workingDirectory;  // the executable's folder
    bool autoStart = true;         // started when the system starts
    std::string instance;          // a named instance: the unit is the template for all of them
};

class IServiceManager {
public:
    virtual ~IServiceManager() = default;
    // Every call returns true on success; on failure the reason is left with
    // SetLastErrorCode for FormatLastError.
    virtual bool Connect() = 0;
    virtual bool OpenService(const std::string& name) = 0;
    virtual bool CreateService(const ServiceDefinition& definition) = 0;
    // The calls below act on the service opened or created last.
    virtual bool DeleteService() = 0;
    // False when the manager refuses the request (e.g. the service already runs).
    virtual bool StartService() = 0;
    virtual bool StopService() = 0;
    virtual bool QueryState(ServiceState& state) = 0;
    virtual bool SetAutoStart(bool automatic) = 0;
};
