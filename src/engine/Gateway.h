#pragma once
// The gateway engine: the steps the worker loop runs to join the modem and the
// database (supervision, outbound cycle, inbound cycle, reports and replies).
// All steps run on the worker thread; DisconnectLinks also runs once at shutdown.
#include "config/Settings.h"
#include "engine/Clock.h"
#include "engine/OutboxJournal.h"
#include "engine/Ports.h"
#include "engine/RunState.h"
#include "engine/StatusBoard.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

constexpr int RESULT_SENT = 1;
constexpr int RESULT_FAILED = -1;

// What the Information page shows of the device.
struct DeviceInfo {
    std::string brand, model, imei;
    int battery = 0;
    int signal = 0;
};

class CGateway {
public:
    CGateway(CSettings& settings, RunState& run, CStatusBoard& status, IGatewayClock& clock, IModem& modem,
             IDatabase& db, std::function<int()> saveSettings);

    // Supervision.
    void ConnectLinks();
    void DisconnectLinks();
    void RefreshDeviceInfo();
    // Outbound cycle.
    void CountUnsent();
    void SendPending();
    // Inbound cycle.
    int InsertReceived(std::string phone, std::string text, std::string time);
    int ScanStorage();
    // Scans only the stores AT+CPMS? reports messages in; 0 when a stop cut it short.
    int CheckStores();
    // Reports, warnings and replies.
    void CheckReports();
    void AnswerQuery(const std::string& phone, const std::string& text);

    // Where unwritten outbox results are kept (beside the settings file).
    void SetJournalPath(const std::string& path) { m_journal.SetPath(path); }
    const COutboxJournal& Journal() const { return m_journal; }

    DeviceInfo Device() const;
    // Stores the battery level the Information page normalised (below 0 or above 100 -> 100).
    void SetBatteryLevel(int level);
    int NextStorage() const { return m_nNextStorage; }

    IModem& Modem() { return m_modem; }

private:
    void ClearDeviceInfo();
    int Send(const std::string& phone, const std::string& text);
    void Save();
    void FlushJournal();
    void SendRows();
    int ScanStore(int used, int total);

    CSettings& m_settings;
    RunState& m_run;
    CStatusBoard& m_status;
    IGatewayClock& m_clock;
    IModem& m_modem;
    IDatabase& m_db;
    std::function<int()> m_save;
    COutboxJournal m_journal;
    int m_nNextStorage = 0;
    // Per store, the messages its last check-and-scan left in it: a store is scanned
    // again only when its count has changed since.
    std::map<std::string, int> m_storeLeft;

    mutable std::mutex m_deviceMutex;  // the Information page reads these texts
    DeviceInfo m_device;
};
