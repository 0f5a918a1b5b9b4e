// Keeping the database and device links up while running and down while paused.
#include "config/MessageHook.h"
#include "config/SettingFields.h"
#include "db/DbError.h"
#include "engine/Gateway.h"
#include "engine/SqlTemplates.h"
#include "link/LogFile.h"
#include "modem/Mobile.h"

namespace {

// A link whose last attempt failed (its journalled state carries the reason).
bool KnownDown(const std::string& state) { return state.rfind("down:", 0) == 0; }

// Passes between connect attempts while the SIM waits for the user (a few seconds each).
constexpr int SIM_HOLD_PASSES = 20;

int BaudRateFor(int index) {
    static const int kRates[] = {9600, 19200, 38400, 57600, 115200};
    return (index >= 0 && index < 5) ? kRates[index] : kRates[0];
}

// The status of a SIM that stopped the connect, 0 when the SIM was not the reason.
int SimCondition(int simState) {
    switch (simState) {
    case SIM_PIN_MISSING: return STATUS_SIM_PIN_MISSING;
    case SIM_PIN_REFUSED: return STATUS_SIM_PIN_REFUSED;
    case SIM_PUK_REQUIRED: return STATUS_SIM_PUK_REQUIRED;
    case SIM_NOT_READY: return STATUS_SIM_NOT_READY;
    default: return 0;
    }
}

// The status and the Information page text of a registration stat; -1 (not known) pauses nothing.
std::pair<int, const char*> NetworkState(int stat) {
    if (stat < 0) return {0, ""};
    if (stat == 5 || stat == 7 || stat == 10) return {0, "Roaming"};
    if (IsRegisteredStat(stat)) return {0, "Home network"};
    if (stat == 2) return {STATUS_NET_SEARCHING, "Searching"};
    if (stat == 3) return {STATUS_NET_DENIED, "Registration denied"};
    return {STATUS_NET_NONE, "Not registered"};
}

bool SameLink(const DeviceLinkSettings& a, const DeviceLinkSettings& b) {
    return a.pin == b.pin && a.mode == b.mode && a.comNumber == b.comNumber && a.baudRate == b.baudRate;
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

// A new condition goes to the log file and to syslog once; "Idle." shows it until it clears.
void CGateway::SetDeviceCondition(int code) {
    if (code == m_status.Condition()) return;
    m_status.SetCondition(code);
    if (code == 0) {
        theLog.WriteTimed("\r\nGSM device ready to send");
        return;
    }
    theLog.WriteTimed(std::string("\r\n") + StatusText(code));
    LogErrorMessage(StatusText(code), "GSM device");
}

bool CGateway::DeviceHeld(const DeviceLinkSettings& link) {
    if (m_nHoldPasses > 0 && SameLink(link, m_heldLink)) {
        --m_nHoldPasses;
        return true;
    }
    m_nHoldPasses = 0;
    return false;
}

void CGateway::ClearDeviceInfo() {
    {
        std::lock_guard lock(m_deviceMutex);
        m_device = DeviceInfo{};
    }
    m_run.m_bDeviceLinked = 0;
}

void CGateway::JournalLink(std::string& last, const char* link, const std::string& state, JournalPriority priority) {
    if (state == last) return;
    last = state;
    ::Journal(priority, "%s link %s", link, state.c_str());
}

void CGateway::JournalDbError(const char* step, const CDbError& error) {
    ::Journal(JOURNAL_ERR, "%s failed: %s", step, error.what());
}

// Templates whose outside values cannot be bound are refused each time they would run;
// the journal names them whenever the database link comes up.
void CGateway::JournalTemplateProblems() {
    const std::pair<const char*, const std::string*> templates[] = {
        {"update_sql", &m_settings.m_strUpdateSql}, {"insert_sql", &m_settings.m_strInsertSql},
        {"report_sql", &m_settings.m_strReportSql}, {"claim_sql", &m_settings.m_strClaimSql},
        {"release_sql", &m_settings.m_strReleaseSql}, {"reclaim_sql", &m_settings.m_strReclaimSql}};
    for (const auto& [name, sql] : templates)
        if (auto problem = TemplateProblem(*sql))
            ::Journal(JOURNAL_ERR, "%s refused, not run: %s", name, problem->c_str());
}

void CGateway::ApplySettingChanges() {
    const int effect = m_sync ? m_sync() : EFFECT_NONE;
    if (effect == EFFECT_NONE) return;
    ::Journal(JOURNAL_NOTICE, "settings changed%s%s", effect & EFFECT_DEVICE ? ", reopening the device link" : "",
            effect & EFFECT_DATABASE ? ", reopening the database link" : "");
    m_modem.SetRetry(m_settings.m_nRetryInterval, m_settings.m_nRetryCount + 1);
    if (effect & EFFECT_DEVICE) m_run.m_bDeviceLinked = 0;
    if (effect & EFFECT_DATABASE) m_run.m_bDatabaseLinked = 0;
}

void CGateway::ConnectLinks() {
    ApplySettingChanges();
    m_db.SetDataSource(m_settings.m_strDsn);
    m_db.SetCredentials(m_settings.m_strDbUser, m_settings.m_strDbPassword);

    if (!m_run.m_bDatabaseLinked) {
        // A retry of a link known to be down leaves its error on display.
        if (!KnownDown(m_strDbState)) m_status.SetStatus(STATUS_DB_CONNECT);
        int opened = 0;
        const std::string source = "data source '" + m_settings.m_strDsn + "'";
        std::string reason;
        try {
            m_db.CloseDatabase();
            opened = m_db.OpenDatabase();
        } catch (const CDbError& e) {
            opened = 0;
            reason = ": " + e.Description();
        }
        if (opened == 1)
            JournalLink(m_strDbState, "database", "up (" + source + ")", JOURNAL_NOTICE);
        else
            JournalLink(m_strDbState, "database", "down: cannot open " + source + reason, JOURNAL_ERR);
        if (opened == 1) {
            JournalTemplateProblems();
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
    // With report_sql the engine deletes a stored report once its statement ran.
    link.deleteStatusReports = m_settings.m_strReportSql.empty() ? 1 : 0;
    if (m_settings.m_nPort == 0) {
        link.mode = 0;
    } else {
        link.mode = 1;
        link.comNumber = m_settings.m_nPort;
        link.baudRate = BaudRateFor(m_settings.m_nBaudRate);
    }
    m_modem.Prepare(link);

    if (!m_run.m_bDeviceLinked && !DeviceHeld(link)) {
        if (!KnownDown(m_strDeviceState)) m_status.SetStatus(STATUS_GSM_CONNECT);
        m_modem.Disconnect();
        const std::string port = m_settings.m_nPort == 0 ? "infrared" : "COM" + std::to_string(m_settings.m_nPort);
        if (m_modem.Connect() == 1) {
            SetDeviceCondition(0);
            JournalLink(m_strDeviceState, "device", "up (" + port + ")", JOURNAL_NOTICE);
            if (!m_settings.m_strSmsc.empty()) m_modem.SetServiceCentre(m_settings.m_strSmsc);
            m_run.m_bDeviceLinked = 1;
            // Asked for the log only; the replies are not used.
            m_modem.SendCommand("AT+CNMI=?\r", "", 200);
            m_modem.SendCommand("AT+CNMI?\r", "", 200);
            RefreshDeviceInfo();
        } else {
            const int sim = SimCondition(m_modem.SimState());
            JournalLink(m_strDeviceState, "device",
                        "down: the modem on " + port +
                            (sim != 0 ? std::string(": ") + StatusText(sim) : " cannot be opened or initialised"),
                        JOURNAL_ERR);
            m_run.m_bDeviceLinked = 0;
            SetDeviceCondition(sim);
            if (sim != 0 && sim != STATUS_SIM_NOT_READY) {
                m_nHoldPasses = SIM_HOLD_PASSES;
                m_heldLink = link;
            }
            m_status.SetStatus(sim != 0 ? sim : STATUS_GSM_CONNECT_FAILED);
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
        JournalLink(m_strDeviceState, "device", "down: no answer to AT", JOURNAL_ERR);
        ClearDeviceInfo();
        return;
    }
    if (m_modem.CheckRouting() == 0) ScanAfterRoutingLoss();
    // The device answered AT: it is alive, whatever it says (or not) about itself.
    DeviceInfo info;
    info.brand = m_modem.GetManufacturer();
    info.model = m_modem.GetModel();
    info.imei = m_modem.GetImei();
    const auto [condition, network] = NetworkState(m_modem.GetRegistration());
    info.network = network;
    SetDeviceCondition(condition);
    info.signal = m_modem.GetSignalQuality();
    info.battery = m_modem.GetBatteryLevel();
    std::lock_guard lock(m_deviceMutex);
    m_device = info;
}

void CGateway::AcknowledgeDirect() {
    if (m_modem.AcknowledgeDirect() == 0) ScanAfterRoutingLoss();
}

void CGateway::ScanAfterRoutingLoss() {
    ::Journal(JOURNAL_WARNING, "the modem had stopped passing new messages on; its stores are scanned");
    m_bScanAllStores = true;
    m_nFullScanWait = 0;
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
            JournalLink(m_strDbState, "database", "closed", JOURNAL_NOTICE);
            CountUnsent();
        } else {
            m_status.SetStatus(STATUS_DB_DISCONNECT_FAILED);
        }
    }
    if (m_run.m_bDeviceLinked) {
        m_status.SetStatus(STATUS_GSM_DISCONNECT);
        if (m_modem.Disconnect() == 1) {
            m_run.m_bDeviceLinked = 0;
            JournalLink(m_strDeviceState, "device", "closed", JOURNAL_NOTICE);
            RefreshDeviceInfo();
        } else {
            m_status.SetStatus(STATUS_GSM_DISCONNECT_FAILED);
        }
    }
}
