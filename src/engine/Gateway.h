#pragma once
// The gateway engine: the steps the worker loop runs to join the modem and the
// database (supervision, outbound cycle, inbound cycle, reports and replies).
// All steps run on the worker thread; DisconnectLinks also runs once at shutdown.
#include "config/Settings.h"
#include "engine/Clock.h"
#include "engine/InboxSpool.h"
#include "engine/OutboxJournal.h"
#include "engine/Ports.h"
#include "engine/RunState.h"
#include "engine/StatusBoard.h"

#include <atomic>
#include <functional>
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
    // The inbound part of every running pass, the database up or not: polls the modem, spools
    // direct messages, stores what it can, and scans every store after an outage and at start.
    void ReceiveMessages();
    // Reports, warnings and replies.
    void CheckReports();
    void AnswerQuery(const std::string& phone, const std::string& text);

    // Where unwritten outbox results are kept (beside the settings file).
    void SetJournalPath(const std::string& path) { m_journal.SetPath(path); }
    const COutboxJournal& Journal() const { return m_journal; }
    // Where direct messages wait for the inbox, and where undecodable PDUs are kept.
    void SetInboundFiles(const std::string& spoolPath, const std::string& rejectPath);
    const CInboxSpool& Spool() const { return m_spool; }

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
    void NoteInsert(bool stored);
    void TakeReceived(const ModemMessage& message);
    bool FlushSpool();
    void Reject(const ModemMessage& message);
    void ScanAllStores();
    int ScanSelectedStore();

    CSettings& m_settings;
    RunState& m_run;
    CStatusBoard& m_status;
    IGatewayClock& m_clock;
    IModem& m_modem;
    IDatabase& m_db;
    std::function<int()> m_save;
    COutboxJournal m_journal;
    int m_nNextStorage = 0;
    CInboxSpool m_spool;
    std::string m_strRejectPath;
    bool m_bScanAllStores = true;  // at start, and after the inbox did not take a message
    bool m_bInsertFailing = false;
    int m_nFullScanWait = 0;       // passes until the next full scan
    int m_nFullScanDelay = 10;     // grows while full scans leave messages behind

    mutable std::mutex m_deviceMutex;  // the Information page reads these texts
    DeviceInfo m_device;
};
