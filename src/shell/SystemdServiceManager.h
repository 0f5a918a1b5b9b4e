#pragma once
// The service manager on Linux: systemd, reached over the system bus with sd-bus. The
// service is the unit orvane-pellwick.service in /etc/systemd/system, or an instance
// orvane-pellwick@NAME.service of the template orvane-pellwick@.service there; automatic
// start means the unit (the instance) is enabled.
#include "shell/Names.h"
#include "shell/ServiceManager.h"

#include <functional>
#include <set>
#include <string>

struct sd_bus;

class CSystemdServiceManager : public IServiceManager {
public:
    // Before a unit for a hand-made install is written, prepareAccount(folder) makes the
    // account it runs as ready for its state folder (PrepareServiceAccount; none in tests).
    using AccountPreparation = std::function<bool(const std::string& folder)>;
    explicit CSystemdServiceManager(std::string unitFolder = UNIT_FOLDER, std::string unitName = UNIT_NAME,
                                    AccountPreparation prepareAccount = nullptr);
    ~CSystemdServiceManager() override;
    CSystemdServiceManager(const CSystemdServiceManager&) = delete;
    CSystemdServiceManager& operator=(const CSystemdServiceManager&) = delete;

    bool Connect() override;
    bool OpenService(const std::string& name) override;
    bool CreateService(const ServiceDefinition& definition) override;
    bool DeleteService() override;
    bool StartService() override;
    bool StopService() override;
    bool QueryState(ServiceState& state) override;
    bool SetAutoStart(bool automatic) override;

private:
    bool IsInstance() const { return m_strUnitFile != m_strUnitName; }
    std::string UnitPath() const { return m_strUnitFolder + "/" + m_strUnitFile; }
    // The instances of the template that are enabled: the links `enable` made in the
    // unit folder's .wants and .requires folders.
    std::set<std::string> EnabledInstances() const;
    bool WriteUnit(const std::string& text);
    bool CallManager(const char* method, const char* types, ...);
    bool Reload();
    bool EnableUnit(bool enable);
    bool ReadActiveState(std::string& state, bool& jobPending);

    std::string m_strUnitFolder;
    std::string m_strUnitName;
    std::string m_strUnitFile;    // the file the unit comes from: the template for an instance
    AccountPreparation m_prepareAccount;
    std::string m_strUnitObject;  // D-Bus object path of the opened unit
    enum class Request { None, Start, Stop } m_request = Request::None;
    sd_bus* m_bus = nullptr;
};
