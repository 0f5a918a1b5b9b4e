// The inbound cycle: received messages into the inbox table, from the poll, the spool or the
// store scan. A message leaves the modem (or the spool) only once the inbox holds it: after
// its row was committed, or after the database reported the same row as already there; or
// once the reject table holds it, after the inbox refused it for its content three times.
#include "db/DbError.h"
#include "engine/Gateway.h"
#include "engine/SqlTemplates.h"
#include "link/Clock.h"
#include "link/LogFile.h"
#include "modem/Mobile.h"

#include <algorithm>
#include <ctime>

namespace {

constexpr int kDuplicateKey = 99;
constexpr int kLastTextKind = 5;  // kinds above this carry no text (status reports)
constexpr int kStatusReportKind = 6;
// Passes between full scans while they keep finding messages the inbox does not take.
constexpr int kFullScanFirstDelay = 10;
constexpr int kFullScanMaxDelay = 600;
// Indications taken in one go at most, so a modem that never stops talking cannot keep
// the loop from its other steps.
constexpr int kMaxIndications = 100;

const char* const kStoreOrder[3][3] = {
    {"SM", "ME", "MT"},
    {"ME", "MT", "SM"},
    {"MT", "SM", "ME"},
};

// A message the inbox refuses for what it holds is tried again after 30 s, and after its
// third refusal, 60 s or more after the first, moved to the reject table.
constexpr long long kContentRetryMs = 30 * 1000;
constexpr int kContentTries = 3;
constexpr long long kContentSpanMs = 60 * 1000;

bool InInbox(int result) { return result == 1 || result == kDuplicateKey; }
// May leave the modem or the spool: in the inbox, or in the reject table.
bool Settled(int result) { return InInbox(result) || result == INSERT_REJECTED; }

// The inbox refused the message for what it holds, not for the state of the database: a
// data exception, a constraint other than the unique key (duplicates never throw), a
// syntax error its text provokes. Lost connections, locks and time-outs are none of these.
bool RefusedForItsContent(const CDbError& e) {
    const std::string state = e.SqlState();
    if (state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0 || state == "42601") return true;
    if (state == "42000" && e.NativeError() == 1064) return true;  // MySQL and MariaDB: syntax
    // SQLite's driver reports its engine's own words under HY000.
    const std::string& text = e.Description();
    return text.find("constraint failed") != std::string::npos || text.find("datatype mismatch") != std::string::npos;
}

bool Names(const std::vector<std::string>& stores, const char* name) {
    return std::find(stores.begin(), stores.end(), name) != stores.end();
}

// Whether the modem offers the store. A modem that named none of SM, ME and MT (or nothing
// at all) is tried with every store, rather than have none scanned.
bool Offered(const std::vector<std::string>& stores, const char* name) {
    const bool namesAny = std::any_of(std::begin(kStoreOrder[0]), std::end(kStoreOrder[0]),
                                      [&](const char* store) { return Names(stores, store); });
    return !namesAny || Names(stores, name);
}

}  // namespace

int CGateway::InsertReceived(std::string phone, std::string text, std::string time) {
    const std::string key = phone + '\x1F' + time + '\x1F' + text;
    const long long now = m_clock.NowMs();
    if (auto refused = m_refusedInserts.find(key); refused != m_refusedInserts.end() && now < refused->second.nextMs)
        return -1;  // refused lately for its content: it waits, the others go on
    m_status.SetStatus(STATUS_INSERTING_SMS);
    int result = 0;
    try {
        result = m_db.ExecuteSql(BuildInsertSql(m_settings.m_strInsertSql, phone, text, FormatTimeValue(time)));
    } catch (const CDbError& e) {
        JournalDbError("storing a received message", e);
        theLog.WriteTimed(std::string("Insert of a received message failed: ") + e.what() + "\r\n");
        m_status.SetStatus(STATUS_INSERT_ERROR);
        result = -1;
        if (RefusedForItsContent(e) && RefusedTooOften(key, now) &&
            RejectReceived({LocalTimeText(std::time(nullptr)), "inbox", 0, "", e.Description(), phone, text}))
            result = INSERT_REJECTED;
    }
    NoteInsert(Settled(result));
    // A message not taken is tried again, and counted then.
    if (!InInbox(result)) return result;
    m_refusedInserts.erase(key);
    ++m_settings.m_nReceived;
    ++m_nReceivedCount;
    ::Journal(JOURNAL_INFO, "received message %s the inbox", result == 1 ? "stored in" : "already in");
    Save();
    // A duplicate is a message stored (and answered) before.
    if (result == 1 && m_activity) m_activity->MessageDone(false, phone, text, "received");
    if (result == 1) AnswerQuery(phone, text);
    return result;
}

bool CGateway::RefusedTooOften(const std::string& key, long long nowMs) {
    const auto refused = m_refusedInserts.try_emplace(key, RefusedInsert{0, nowMs, 0}).first;
    refused->second.nextMs = nowMs + kContentRetryMs;
    if (++refused->second.tries < kContentTries || nowMs - refused->second.firstMs < kContentSpanMs) return false;
    m_refusedInserts.erase(refused);
    return true;
}

// A message the inbox refused for its content goes to the reject table with the reason.
bool CGateway::RejectReceived(const RejectedPdu& rejected) {
    if (!AddRejected(rejected)) return false;
    ::Journal(JOURNAL_WARNING, "received message from %s refused by the inbox %d times, moved to the reject table: %s",
              rejected.phone.c_str(), kContentTries, rejected.reason.c_str());
    return true;
}

bool CGateway::AddRejected(const RejectedPdu& rejected) {
    if (!m_state || !m_state->AddRejected(rejected)) return false;
    m_nRejectedCount = m_state->CountRejected();
    return true;
}

// After inserts failed, the first one that works again makes the next pass scan every store.
void CGateway::NoteInsert(bool stored) {
    if (!stored) {
        m_bInsertFailing = true;
        m_bScanAllStores = true;
    } else if (m_bInsertFailing) {
        m_bInsertFailing = false;
        m_nFullScanWait = 0;
    }
}

void CGateway::ReceiveMessages() {
    const bool linked = m_run.m_bDatabaseLinked == 1;
    if (!linked) {
        m_bScanAllStores = true;
    } else if (!m_bDatabaseWasLinked) {
        // Back after an outage: what waited on the SIM is stored now, not after a back-off.
        m_nFullScanWait = 0;
        m_nFullScanDelay = kFullScanFirstDelay;
        m_storeLeft.clear();
    }
    m_bDatabaseWasLinked = linked;
    // A message that waits in the spool never keeps the stores from being scanned.
    TakeIndications();
    if (m_run.m_bDatabaseLinked == 1 && m_bScanAllStores && --m_nFullScanWait <= 0) ScanAllStores();
}

// The modem is read by this one worker thread, between its database statements: every
// statement is bounded (the layer's time-outs), and the loops that run several of them
// (the spool, the store scan, an outbox burst) take what the modem said before each one.
// A direct message is thus in the state store at most one statement's time after it
// arrived; where the modem takes acknowledgements, it is acknowledged only then, so one
// the gateway loses meanwhile is delivered again.
void CGateway::PollIndications() {
    for (int i = 0; i < kMaxIndications && !m_run.m_bStop; ++i) {
        const int poll = m_modem.PollEvents();
        if (poll == POLL_NEW_MESSAGE || poll == POLL_UNDECODABLE)
            TakeReceived(m_modem.Received());
        else if (poll == POLL_STATUS_REPORT && !m_settings.m_strReportSql.empty())
            TakeStatusReport();
        else if (poll == POLL_STATUS_REPORT)
            AcknowledgeDirect();  // reports are not kept without report_sql
        else if (poll != POLL_INCOMING_CALL)
            break;
    }
}

void CGateway::HoldDirectDelivery() {
    if (!m_bStoreFailing)
        ::Journal(JOURNAL_ERR, "the state store cannot be written (%s): new messages stay in the modem's stores",
                  StateError().c_str());
    m_bStoreFailing = true;
    m_modem.HoldDirectDelivery(true);  // again after a reconnect, which sets the routing anew
}

void CGateway::KeptAgain() {
    if (!m_bStoreFailing) return;
    bool kept = m_spool.StoreKept();
    for (WaitingReport& w : m_waitingReports)
        if (kept && m_state && w.id == 0) kept = m_state->AddWaitingReport(w);
    if (!kept) return HoldDirectDelivery();
    if (m_modem.HoldDirectDelivery(false) != 1) return;
    m_bStoreFailing = false;
    ::Journal(JOURNAL_NOTICE, "the state store can be written again: direct delivery is back");
}

void CGateway::TakeIndications() {
    KeptAgain();
    PollIndications();
    if (m_run.m_bDatabaseLinked != 1) return;
    FlushSpool();
    FlushWaitingReports();
    InsertJoinedMessages();
}

// A report announced by the poll; one from a store leaves it once report_sql ran. One that
// exists nowhere else (delivered directly, or deleted from its store when read) waits in the
// state store while report_sql cannot run.
void CGateway::TakeStatusReport() {
    const ModemReport report = m_modem.Report();
    if (TakeReport(report)) {
        if (report.inStore)
            m_modem.DeleteStored(report.store, report.index);
        else
            AcknowledgeDirect();
        return;
    }
    if (report.inStore) return;  // the store scan finds it again
    WaitingReport waiting{0, report.reference, report.phone, report.discharge, report.status};
    const bool kept = !m_state || m_state->AddWaitingReport(waiting);
    m_waitingReports.push_back(waiting);
    if (kept)
        AcknowledgeDirect();
    else
        HoldDirectDelivery();
}

// The waiting reports, oldest first, until one cannot be applied yet.
void CGateway::FlushWaitingReports() {
    while (!m_waitingReports.empty() && m_run.m_bDatabaseLinked == 1 && !m_run.m_bStop) {
        const WaitingReport& w = m_waitingReports.front();
        if (!TakeReport({w.reference, w.phone, w.discharge, w.status})) return;
        if (m_state && w.id != 0 && !m_state->DropWaitingReport(w.id))
            ::Journal(JOURNAL_ERR, "cannot drop an applied status report from the state store: %s", StateError().c_str());
        m_waitingReports.erase(m_waitingReports.begin());
    }
}

void CGateway::TakeReceived(const ModemMessage& message) {
    // A PDU that decodes to neither a sender nor a text would be an empty inbox row.
    if (!message.decoded || (message.phone.empty() && message.text.empty())) return Reject(message);
    if (!message.inStore && !(m_settings.m_bMultipartJoin && message.partCount > 1)) {
        // Delivered directly, it exists nowhere else: the spool keeps it until the inbox does.
        if (m_spool.Add({0, static_cast<long long>(std::time(nullptr)), message.phone, message.text, message.time}))
            AcknowledgeDirect();
        else
            HoldDirectDelivery();  // this one waits in memory, unacknowledged
        return;
    }
    if (!message.inStore) {
        // A direct part: the part spool keeps it (in memory too when the store cannot be written).
        if (Settled(StoreReceived(message))) AcknowledgeDirect();
    } else if (m_run.m_bDatabaseLinked == 1 && Settled(StoreReceived(message))) {
        m_modem.DeleteStored(message.store, message.index);
    } else {
        m_bScanAllStores = true;  // it stays in the store for the scan
    }
}

// Inserts the spooled messages, oldest first. One the inbox refuses stays and the next are
// tried; without a connection the rest wait.
void CGateway::FlushSpool() {
    for (size_t position = 0; position < m_spool.Entries().size();) {
        if (m_run.m_bStop) return;
        if (position > 0) PollIndications();  // it only adds to the spool
        const SpooledMessage message = m_spool.Entries()[position];
        const int result = InsertReceived(message.phone, message.text, message.time);
        if (result == 0) return;
        if (!Settled(result)) {
            ++position;
        } else {
            // The message leaves the spool with its webhook event in one transaction. Killed
            // after the insert's commit and before that transaction, the gateway finds it
            // spooled again; the inbox then has it already, and the event is queued then.
            std::optional<WebhookEvent> event;
            if (InInbox(result) && Webhooks())
                event = ReceivedEvent(message.phone, message.text, message.time, m_clock.WallMs());
            if (!m_spool.Remove(position, event ? &*event : nullptr))
                theLog.WriteTimed("The state store could not drop a stored message; after a restart the inbox "
                                  "finds it there already\r\n");
        }
    }
}

// A PDU that does not decode (or holds no message) goes to the reject table, and only then
// leaves the modem.
void CGateway::Reject(const ModemMessage& message) {
    std::string pdu = message.pdu;
    std::replace_if(pdu.begin(), pdu.end(), [](char c) { return c < 0x21 || c > 0x7E; }, '?');
    const RejectedPdu rejected{LocalTimeText(std::time(nullptr)),
                               !message.inStore ? "direct" : message.store.empty() ? "-" : message.store,
                               message.index, pdu, message.decoded ? "holds no message" : "does not decode"};
    const std::string where = rejected.store + " " + std::to_string(rejected.index) + " " + pdu;
    if (!AddRejected(rejected)) {
        theLog.WriteTimed("Undecodable message could not be kept in the state store: " + where + "\r\n");
        return;
    }
    ::Journal(JOURNAL_WARNING, "received message (%s) moved to the reject table: %s", where.c_str(),
              rejected.reason.c_str());
    theLog.WriteTimed("Undecodable message moved to the reject table: " + where + "\r\n");
    if (message.inStore)
        m_modem.DeleteStored(message.store, message.index);
    else
        AcknowledgeDirect();
}

int CGateway::ScanStorage() {
    m_status.SetStatus(STATUS_READING_SMS);
    const std::vector<std::string> offered = m_modem.MessageStores();
    for (const char* store : kStoreOrder[m_nNextStorage]) {
        if (Offered(offered, store) && m_modem.SetStorage(store) >= 0) break;
    }
    m_nNextStorage = (m_nNextStorage + 1) % 3;
    return ScanSelectedStore() < 0 ? 0 : 1;
}

// Every store in turn, for messages left while the inbox could not take them (and at start).
void CGateway::ScanAllStores() {
    m_status.SetStatus(STATUS_READING_SMS);
    int left = 0;
    const std::vector<std::string> offered = m_modem.MessageStores();
    for (const char* store : kStoreOrder[0]) {
        if (!Offered(offered, store) || m_modem.SetStorage(store) < 0) continue;
        const int notStored = ScanSelectedStore();
        if (notStored < 0) return;  // stopped: the next pass scans again
        left += notStored;
    }
    if (left == 0) {
        m_bScanAllStores = false;
        m_nFullScanDelay = kFullScanFirstDelay;
    } else {
        m_nFullScanWait = m_nFullScanDelay;
        m_nFullScanDelay = std::min(m_nFullScanDelay * 2, kFullScanMaxDelay);
    }
}

// Reads the selected store; what the inbox took, status reports and undecodable PDUs leave it.
// Returns the number of messages left in the store, or -1 when a stop request ended the scan.
int CGateway::ScanSelectedStore() {
    int used = m_modem.GetUsedCount();
    if (used <= 0) return 0;
    int total = m_modem.GetTotalCount();
    if (total <= 0) return 0;
    return ScanStore(used, total);
}

int CGateway::CheckStores() {
    std::vector<StoreUse> stores = m_modem.GetStoreUse();
    for (size_t i = 0; i < stores.size(); ++i) {
        const StoreUse& store = stores[i];
        bool seen = false;  // the same store may be named as read, write and receive store
        for (size_t j = 0; j < i; ++j) seen = seen || stores[j].name == store.name;
        if (seen) continue;
        if (store.used <= 0 || store.total <= 0) {
            m_storeLeft.erase(store.name);
            continue;
        }
        const auto left = m_storeLeft.find(store.name);
        if (left != m_storeLeft.end() && left->second == store.used) continue;  // nothing new since
        m_status.SetStatus(STATUS_READING_SMS);
        if (m_modem.SetStorage(store.name) < 0) continue;
        const int notStored = ScanStore(store.used, store.total);
        if (notStored < 0) return 0;
        m_storeLeft[store.name] = notStored;
    }
    return 1;
}

// Reads the selected store; what the inbox took, status reports and undecodable PDUs leave it.
// The used places come from one listing; a modem that does not list (or lists fewer than it
// counts) has every place read, from 0 up to its capacity, until `used` messages were seen.
// Returns the number of messages left in the store, or -1 when a stop request ended the scan.
int CGateway::ScanStore(int used, int total) {
    std::vector<int> indexes;
    const bool listed = m_modem.ListStored(indexes) > 0 && static_cast<int>(indexes.size()) >= used;
    if (!listed) {
        indexes.clear();
        for (int index = 0; index <= total; ++index) indexes.push_back(index);
    }
    int found = 0, left = 0;
    for (const int index : indexes) {
        if (!listed && found + left >= used) break;
        if (m_run.m_bStop) return -1;
        PollIndications();
        if (m_modem.ReadStoredMessage(index) <= 0) continue;
        ModemMessage message = m_modem.LastRead();
        message.index = index;
        message.inStore = true;
        if (!message.decoded) {
            Reject(message);
            ++found;
        } else if (message.kind > kLastTextKind) {
            if (message.kind == kStatusReportKind && !m_settings.m_strReportSql.empty() &&
                !TakeReport(m_modem.Report())) {
                ++left;
                continue;
            }
            m_modem.DeleteMessage(index);
            ++found;
        } else if (Settled(StoreReceived(message))) {
            m_modem.DeleteMessage(index);
            ++found;
        } else {
            ++left;
        }
    }
    return left;
}
