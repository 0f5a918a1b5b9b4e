// Keeping the database and device links up while running and down while paused.
#include "db/DbError.h"
#include "engine/Gateway.h"

namespace {

int BaudRateFor(int index) {
    static const int kRates[] = {9600, 19200, 38400, 57600, 115200};
    return (index >= 0 && index < 5) ? kRates[index] : kRates[0];
}

}  // namespace

CGateway::CGateway(CSettings& settings, RunState& run, CStatusBoard& status, IGatewayClock& clock, IModem& modem,
                   IDatabase& db, std::function<int()> saveSettings)
    : m_settings(settings),
      m_run(run),
      m_status(status),
      m_clock(clock),
      m_modem(modem),
      m_db(db),
      m_save(std::move(saveSettings)) {}

void CGateway::Save() {
    if (m_save) m_save();
}

DeviceInfo CGateway::Device() const {
    std::lock_guard lock(m_deviceMutex);
    return m_device;
}

void CGateway::SetBatteryLevel(int level) {
    std::lock_guard lock(m_deviceMutex);
    m_device.battery = level;
}

void CGateway::ClearDeviceInfo() {
    {
        std::lock_guard lock(m_deviceMutex);
        m_device = DeviceInfo{};
    }
    m_run.m_bDeviceLinked = 0;
}

void CGateway::ConnectLinks() {
    m_db.SetDataSource(m_settings.m_strDsn);
    m_db.SetCredentials(m_settings.m_strDbUser, m_settings.m_strDbPassword);

    if (!m_run.m_bDatabaseLinked) {
        m_status.SetStatus(STATUS_DB_CONNECT);
        int opened = 0;
        try {
            m_db.CloseDatabase();
            opened = m_db.OpenDatabase();
        } catch (const CDbError&) {
            opened = 0;
        }
        if (opened == 1) {
            m_run.m_bDatabaseLinked = 1;
            CountUnsent();
        } else {
            m_run.m_bDatabaseLinked = 0;
            m_status.SetStatus(STATUS_DB_CONNECT_FAILED);
        }
    }

    DeviceLinkSettings link;
    link.pin = m_settings.m_strPin;
    link.statusReport = 0;
    link.deleteStatusReports = 1;
    if (m_settings.m_nPort == 0) {
        link.mode = 0;
    } else {
        link.mode = 1;
        link.comNumber = m_settings.m_nPort;
        link.baudRate = BaudRateFor(m_settings.m_nBaudRate);
    }
    m_modem.Prepare(link);

    if (!m_run.m_bDeviceLinked) {
        m_status.SetStatus(STATUS_GSM_CONNECT);
        m_modem.Disconnect();
        if (m_modem.Connect() == 1) {
            if (!m_settings.m_strSmsc.empty()) m_modem.SetServiceCentre(m_settings.m_strSmsc);
            m_run.m_bDeviceLinked = 1;
            // Asked for the log only; the replies are not used.
            m_modem.SendCommand("AT+CNMI=?\r", "", 200);
            m_modem.SendCommand("AT+CNMI?\r", "", 200);
            RefreshDeviceInfo();
        } else {
            m_run.m_bDeviceLinked = 0;
            m_status.SetStatus(STATUS_GSM_CONNECT_FAILED);
        }
    }
}

void CGateway::RefreshDeviceInfo() {
    if (m_run.m_bDeviceLinked != 1) {
        ClearDeviceInfo();
        return;
    }
    m_status.SetStatus(STATUS_GSM_REFRESH);
    bool answered = false;
    for (int i = 0; i < 3; ++i) {
        if (m_modem.SendCommand("AT\r", "OK", 100).find("OK") != std::string::npos) {
            answered = true;
            break;
        }
        if (m_run.m_bStop) return;  // leave everything as it is
        m_clock.SleepMs(100);
    }
    if (!answered) {
        ClearDeviceInfo();
        return;
    }
    DeviceInfo info;
    info.brand = m_modem.GetManufacturer();
    if (info.brand.empty()) return ClearDeviceInfo();
    info.model = m_modem.GetModel();
    if (info.model.empty()) return ClearDeviceInfo();
    info.imei = m_modem.GetImei();
    if (info.imei.empty()) return ClearDeviceInfo();
    info.signal = m_modem.GetSignalQuality();
    info.battery = m_modem.GetBatteryLevel();
    std::lock_guard lock(m_deviceMutex);
    m_device = info;
}

void CGateway::DisconnectLinks() {
    if (m_run.m_bDatabaseLinked) {
        m_status.SetStatus(STATUS_DB_DISCONNECT);
        int closed = 0;
        try {
            closed = m_db.CloseDatabase();
        } catch (const CDbError&) {
            closed = 0;
        }
        if (closed == 1) {
            m_run.m_bDatabaseLinked = 0;
            CountUnsent();
        } else {
            m_status.SetStatus(STATUS_DB_DISCONNECT_FAILED);
        }
    }
    if (m_run.m_bDeviceLinked) {
        m_status.SetStatus(STATUS_GSM_DISCONNECT);
        if (m_modem.Disconnect() == 1) {
            m_run.m_bDeviceLinked = 0;
            RefreshDeviceInfo();
        } else {
            m_status.SetStatus(STATUS_GSM_DISCONNECT_FAILED);
        }
    }
}
