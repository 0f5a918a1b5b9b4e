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
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

// Results written into "<RESULT>": sent, refused or failed, and unknown (the message
// was handed to the modem but its answer never came: it may have gone out).
constexpr int RESULT_SENT = 1;
constexpr int RESULT_FAILED = -1;
constexpr int RESULT_UNKNOWN = -2;

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
    // Reports, warnings and replies.
    void CheckReports();
    void AnswerQuery(const std::string& phone, const std::string& text);

    // Where the outbound journal is kept (beside the settings file). Rows it still holds as
    // "sending" take the result -2, are logged and counted as failed.
    void SetJournalPath(const std::string& path);
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
    struct OutboxRow {
        std::string msgId, phone, text;
    };
    void FlushJournal();
    void SendRows();
    std::vector<OutboxRow> ReadBatch(const std::unordered_set<size_t>& handled);
    bool SendRow(const OutboxRow& row);
    bool Refuse(const OutboxRow& row, const char* reason);
    void WriteResult(const std::string& msgId, int result);

    CSettings& m_settings;
    RunState& m_run;
    CStatusBoard& m_status;
    IGatewayClock& m_clock;
    IModem& m_modem;
    IDatabase& m_db;
    std::function<int()> m_save;
    COutboxJournal m_journal;
    std::unordered_set<std::string> m_unaddressable;  // ids the update cannot name, reported once
    int m_nNextStorage = 0;

    mutable std::mutex m_deviceMutex;  // the Information page reads these texts
    DeviceInfo m_device;
};
