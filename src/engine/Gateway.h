#pragma once
// The gateway engine: the steps the worker loop runs to join the modem and the
// database (supervision, outbound cycle, inbound cycle, reports and replies).
// All steps run on the worker thread; DisconnectLinks also runs once at shutdown.
#include "config/SettingsFile.h"
#include "db/DbError.h"
#include "engine/Activity.h"
#include "engine/Clock.h"
#include "engine/InboxSpool.h"
#include "engine/OutboxJournal.h"
#include "engine/PartSpool.h"
#include "engine/ReplyLimits.h"
#include "engine/ReportBook.h"
#include "engine/Ports.h"
#include "engine/RunState.h"
#include "engine/StatusBoard.h"
#include "engine/WebhookEvents.h"
#include "link/Journal.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

// Results written into "<RESULT>": sent, refused or failed, and unknown (the message
// was handed to the modem but its answer never came: it may have gone out).
constexpr int RESULT_SENT = 1;
constexpr int RESULT_FAILED = -1;
constexpr int RESULT_UNKNOWN = -2;
// InsertReceived: refused by the inbox for its content too often, now in the reject table.
constexpr int INSERT_REJECTED = 98;

// What the Information page shows of the device.
struct DeviceInfo {
    std::string brand, model, imei;
    std::string network;  // registration: "Home network", "Roaming", "Searching", ...
    int battery = 0;
    int signal = 0;
};

// What this gateway has done since it started, readable from any thread.
struct GatewayCounts {
    long long sent = 0, failed = 0, unknown = 0;  // outbox rows by result: 1, -1, -2
    long long received = 0;                       // messages stored in the inbox
    long long rejected = -1;                      // rows of the state store's reject table (-1: no store)
    // Outbox rows waiting to be sent: the rows the last count found at status 0, less those
    // this gateway has dealt with since (0 while the database is down).
    long long pending = 0;
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
    // Every indication already received: direct messages into the spool, stored ones into
    // the inbox; then, with the database linked, the spool, the waiting reports and the
    // joined parts into it.
    void TakeIndications();
    // Scans only the stores AT+CPMS? reports messages in; 0 when a stop cut it short.
    int CheckStores();
    // A decoded message from the modem: inserted, or with multipart_join on a part of a
    // longer one kept in the part spool until its message is whole. 1 (or 99, a duplicate)
    // when it may leave the modem.
    int StoreReceived(const ModemMessage& message);
    // Inserts each spooled message that is whole or has waited multipart_timeout minutes.
    void InsertJoinedMessages();
    // Delivery reports (report_sql set): a status report matched to its outbox row runs
    // report_sql. True when it may leave the modem (run, or matched to no submission).
    bool TakeReport(const ModemReport& report);
    const CReportBook& Reports() const { return m_reports; }
    const CPartSpool& Parts() const { return m_parts; }
    // Reports, warnings and replies.
    void CheckReports();
    void AnswerQuery(const std::string& phone, const std::string& text);

    // Settings changed by another process: `sync` takes them into the record and returns
    // their SettingEffect bits (config/SettingFields.h). Called at each connect step,
    // it reopens a link whose settings changed, as the window's Apply does.
    void SetSettingsSync(std::function<int()> sync) { m_sync = std::move(sync); }

    // The gateway's name in the claim statements (InstanceName()); `named`: its reports,
    // warnings and replies begin with it.
    void SetInstance(const std::string& name, bool named);

    // The state store keeping the outbound journal, the direct messages waiting for the
    // inbox, the waiting parts, the submissions waiting for a report and the rejected PDUs
    // (nullptr: all in memory). Rows the journal still holds as "sending" take the result
    // -2, are logged and counted as failed; rows still "prompting" never reached the modem
    // and are sent again later.
    void SetStateStore(IStateStore* store);
    const COutboxJournal& Journal() const { return m_journal; }
    // With a webhook receiver set, the events it hears of are queued in the state store in
    // the transaction that keeps what they report (none without a state store).
    void SetWebhooks(bool on) { m_bWebhooks = on; }
    const CInboxSpool& Spool() const { return m_spool; }
    // Told of every message finished and every submission (nullptr: nobody). Set before
    // the worker starts; the observer outlives it.
    void SetActivity(IGatewayActivity* activity) { m_activity = activity; }

    DeviceInfo Device() const;
    // Stores the battery level the Information page normalised (below 0 or above 100 -> 100).
    void SetBatteryLevel(int level);
    int NextStorage() const { return m_nNextStorage; }

    IModem& Modem() { return m_modem; }
    GatewayCounts Counts() const;
    // The code a pass ends with when all is well: "Idle.", or what keeps the gateway from
    // being idle (inserts failing, rows waiting outside the sending period).
    int IdleStatus() const;
    // False while a SIM lock or a missing network registration keeps sending paused:
    // outbox rows then wait at status 0 instead of failing.
    bool SendingAllowed() const { return m_status.Condition() == 0; }

private:
    void ClearDeviceInfo();
    void SetDeviceCondition(int code);
    bool DeviceHeld(const DeviceLinkSettings& link);
    void ApplySettingChanges();
    void JournalTemplateProblems();
    // One journal line when a link's state, or the reason for it, changes.
    void JournalLink(std::string& last, const char* link, const std::string& state, JournalPriority priority);
    void JournalDbError(const char* step, const CDbError& error);
    int Send(const std::string& phone, const std::string& text);
    void Save();
    // Counts a row's result in the settings record and in this run's counts.
    void CountResult(int result);
    void PublishPending() { m_nPending = m_settings.m_nUnsent; }
    bool AddRejected(const RejectedPdu& rejected);
    struct OutboxRow {
        std::string msgId, phone, text;
    };
    void FlushJournal();
    void SendRows();
    // Several gateways on one outbox (claim_sql set): a row is sent only after this
    // gateway's claim changed it.
    bool Sharing() const { return !m_settings.m_strClaimSql.empty(); }
    enum class Claim { Won, Lost, Stop };
    Claim ClaimRow(const std::string& msgId);
    void ReleaseRow(const std::string& msgId);
    void ReclaimStale();
    bool Addressable(const std::string& msgId) const;
    void NoteInsert(bool stored);
    void TakeReceived(const ModemMessage& message);
    void TakeStatusReport();
    void FlushSpool();
    void Reject(const ModemMessage& message);
    bool RefusedTooOften(const std::string& key, long long nowMs);
    bool RejectReceived(const RejectedPdu& rejected);
    void FlushWaitingReports();
    void PollIndications();
    // The state store refused a direct message or report: the modem keeps new ones in its
    // stores until what waits in memory is written. KeptAgain is checked every pass.
    void HoldDirectDelivery();
    void KeptAgain();
    std::string StateError() const { return m_state ? m_state->LastError() : std::string(); }
    bool Webhooks() const { return m_bWebhooks && m_state; }
    // A message read from a store (or taken directly but not spooled) is in the inbox:
    // its event is queued. -1 when the store refused it (the message then stays).
    int QueueReceived(const ModemMessage& message, int result);
    void ScanAllStores();
    // A message or report taken directly is kept: the modem may let it go.
    void AcknowledgeDirect();
    // Routing to the gateway was off for a while: what came meanwhile is in the stores.
    void ScanAfterRoutingLoss();
    int ScanSelectedStore();
    std::vector<OutboxRow> ReadBatch(const std::unordered_set<size_t>& handled);
    bool SendRow(const OutboxRow& row);
    bool Refuse(const OutboxRow& row, const char* reason);
    // Writes "<REASON>" too: the one journalled with the result, "" for a message sent.
    void WriteResult(const std::string& msgId, int result);
    int ScanStore(int used, int total);

    CSettings& m_settings;
    RunState& m_run;
    CStatusBoard& m_status;
    IGatewayClock& m_clock;
    IModem& m_modem;
    IDatabase& m_db;
    std::function<int()> m_save;
    std::function<int()> m_sync;
    std::string m_strDbState = "down", m_strDeviceState = "down";  // as last journalled
    COutboxJournal m_journal;
    std::string m_strInstance;
    bool m_bNamedInstance = false;
    std::unordered_set<std::string> m_unaddressable;  // ids the update cannot name, reported once
    // Several gateways: where in each batch this one starts, and whether its last claim was
    // lost (the batch is then read again, and the others' rows are not claimed one by one).
    std::uint64_t m_claimSeed = 0;
    bool m_bClaimLost = false;
    CPartSpool m_parts;
    CReportBook m_reports;
    CReplyLimiter m_replies;  // keyword replies per sender and per day
    long long m_nextJoinMs = 0;
    int m_nNextStorage = 0;
    // While the SIM waits for the user (PIN missing or refused, PUK), the device is connected
    // again only every few passes, or at once when its link settings change.
    int m_nHoldPasses = 0;
    DeviceLinkSettings m_heldLink;
    CInboxSpool m_spool;
    IStateStore* m_state = nullptr;
    bool m_bWebhooks = false;
    IGatewayActivity* m_activity = nullptr;
    std::vector<WaitingReport> m_waitingReports;
    // Messages the inbox refused for their content, by phone, time and text.
    struct RefusedInsert {
        int tries = 0;
        long long firstMs = 0, nextMs = 0;
    };
    std::map<std::string, RefusedInsert> m_refusedInserts;
    bool m_bDatabaseWasLinked = false;
    bool m_bStoreFailing = false;
    bool m_bScanAllStores = true;  // at start, and after the inbox did not take a message
    bool m_bInsertFailing = false;
    bool m_bOutsidePeriod = false;  // rows waited outside the sending period last cycle
    std::atomic<long long> m_nSentCount{0}, m_nFailedCount{0}, m_nUnknownCount{0}, m_nReceivedCount{0};
    std::atomic<long long> m_nRejectedCount{-1}, m_nPending{0};
    int m_nFullScanWait = 0;       // passes until the next full scan
    int m_nFullScanDelay = 10;     // grows while full scans leave messages behind
    // Per store, the messages its last check-and-scan left in it: a store is scanned
    // again only when its count has changed since.
    std::map<std::string, int> m_storeLeft;

    mutable std::mutex m_deviceMutex;  // the Information page reads these texts
    DeviceInfo m_device;
};
