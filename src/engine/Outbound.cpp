// The outbound cycle: count the outbox, send each pending row, write the result back.
//
// Exactly once: a row is journalled as "prompting" before the driver gets it, as "sending"
// right before its first PDU is written and with its result as soon as the driver returns;
// the journal entry goes only once the update has stored the result. A row that was
// sending is never handed to the driver again; one that never got past the prompt is.
//
// Several gateways on one outbox: each row is claimed first (journalled as "claimed",
// then claim_sql, which must change exactly that row); a row another gateway claimed is
// left to it, and a claimed row that does not reach the modem is given back with
// release_sql. Claims older than claim_timeout minutes are taken back with reclaim_sql.
// Gateways that read the same pending rows would claim them in the same order, and all but
// one would lose each claim; so each starts at a place of its own in the batch, and a lost
// claim (it ran into another gateway's rows) has it read the rows again and start anew.
#include "db/DbError.h"
#include "engine/Gateway.h"
#include "engine/OutboxInsert.h"
#include "engine/SqlTemplates.h"
#include "link/Journal.h"
#include "link/LogFile.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

// Rows read per select; the cursor is closed before the first of them is sent, so no
// read lock is held while the modem works.
constexpr size_t BATCH_ROWS = 100;
// The most a "<REASON>" carries.
constexpr size_t MAX_REASON_BYTES = 200;
constexpr size_t MAX_REFUSED_PHONE_BYTES = 64;

// The number to dial: digits with an optional leading '+', the separators blank, '-',
// '.', '(' and ')' dropped. Empty when the text is not a dialable number.
std::string DialableNumber(const std::string& phone) {
    std::string number;
    std::size_t digits = 0;
    for (char c : phone) {
        if (c >= '0' && c <= '9') {
            number += c;
            ++digits;
        } else if (c == '+' && number.empty()) {
            number += c;
        } else if (c != ' ' && c != '-' && c != '.' && c != '(' && c != ')') {
            return {};
        }
    }
    return digits == 0 || digits > MAX_PHONE_DIGITS ? std::string() : number;
}

// One line to the log file and the system journal.
void Tell(JournalPriority priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Tell(JournalPriority priority, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    theLog.PrintfTimed("%s\n", line);
    ::Journal(priority, "%s", line);
}

}  // namespace

void CGateway::SetStateStore(IStateStore* store) {
    m_state = store;
    m_journal.Attach(store);
    m_spool.Attach(store);
    m_parts.Attach(store);
    m_reports.Attach(store);
    m_waitingReports = store ? store->LoadWaitingReports() : std::vector<WaitingReport>{};
    m_nRejectedCount = store ? store->CountRejected() : -1;
    std::vector<std::string> unknown, unsent;
    for (const auto& entry : m_journal.Entries()) {
        if (entry.state == JournalState::Sending) unknown.push_back(entry.msgId);
        if (entry.state == JournalState::Prompting) unsent.push_back(entry.msgId);
    }
    for (const auto& msgId : unknown) {
        Tell(JOURNAL_WARNING, "Outbox row %s was being sent when the gateway stopped: result unknown (%d), not sent again.",
                           msgId.c_str(), RESULT_UNKNOWN);
        m_journal.SetResult(msgId, RESULT_UNKNOWN, "the gateway stopped while the message was being sent");
        CountResult(RESULT_UNKNOWN);
    }
    for (const auto& msgId : unsent) {
        Tell(JOURNAL_NOTICE, "Outbox row %s was waiting for the modem's prompt when the gateway stopped: it never "
                             "reached the modem and is sent later.", msgId.c_str());
        // A claimed row is given back by the next cycle; an unclaimed one is simply pending.
        if (Sharing())
            m_journal.Unclaim(msgId);
        else
            m_journal.Remove(msgId);
    }
    if (!unknown.empty()) Save();
}

void CGateway::CountResult(int result) {
    if (result == RESULT_SENT) {
        ++m_settings.m_nSent;
        ++m_nSentCount;
    } else {
        ++m_settings.m_nFailed;
        ++(result == RESULT_UNKNOWN ? m_nUnknownCount : m_nFailedCount);
    }
}

GatewayCounts CGateway::Counts() const {
    GatewayCounts counts;
    counts.sent = m_nSentCount;
    counts.failed = m_nFailedCount;
    counts.unknown = m_nUnknownCount;
    counts.received = m_nReceivedCount;
    counts.rejected = m_nRejectedCount;
    counts.pending = m_nPending;
    return counts;
}

int CGateway::IdleStatus() const {
    if (m_status.Condition() != 0) return STATUS_IDLE;  // the board shows the condition
    if (m_bInsertFailing) return STATUS_INSERT_ERROR;
    if (m_bOutsidePeriod) return STATUS_PERIOD_EXCEEDED;
    return STATUS_IDLE;
}

void CGateway::SetInstance(const std::string& name, bool named) {
    m_strInstance = name;
    m_bNamedInstance = named;
}

// Claims whose gateway died or lost its database go back to status 0 for any gateway.
void CGateway::ReclaimStale() {
    const int timeout = m_settings.m_nClaimTimeout;
    if (!Sharing() || timeout <= 0 || m_settings.m_strReclaimSql.empty()) return;
    const long taken = m_db.ExecuteChange(BuildReclaimSql(m_settings.m_strReclaimSql, m_strInstance, timeout));
    if (taken > 0)
        Tell(JOURNAL_WARNING, "%ld outbox rows claimed more than %d minutes ago by another gateway were taken back.",
             taken, timeout);
}

void CGateway::CountUnsent() {
    if (m_run.m_bDatabaseLinked != 1) {
        m_settings.m_nUnsent = 0;
        PublishPending();
        return;
    }
    m_status.SetStatus(STATUS_DB_QUERY);
    std::string sql = BuildCountSql(m_settings.m_strSelectSql);
    if (sql.empty()) {
        m_status.SetStatus(STATUS_SELECT_ERROR);
        return;
    }
    const char* step = "taking back old claims";
    try {
        ReclaimStale();
        step = "counting the outbox";
        m_db.OpenQuery(sql);
        m_settings.m_nUnsent = m_db.IsEof() ? 0 : m_db.GetFieldInt("count");
    } catch (const CDbError& e) {
        JournalDbError(step, e);
        m_run.m_bDatabaseLinked = 0;
        m_status.SetStatus(STATUS_SELECT_ERROR);
    }
    m_db.CloseQuery();
    PublishPending();
}

// Stores a row's result and drops its journal entry. Anything but success (an error, a
// duplicate key, no connection) throws, and the entry stays.
void CGateway::WriteResult(const std::string& msgId, int result) {
    long changed = -1;
    // The reason is kept in the journal, so it survives a restart until the update is written.
    const COutboxJournal::Entry* entry = m_journal.Find(msgId);
    const std::string reason = entry && result != RESULT_SENT ? entry->reason : std::string();
    try {
        changed = m_db.ExecuteChange(BuildUpdateSql(m_settings.m_strUpdateSql, msgId, result, m_strInstance, reason));
    } catch (const CDbError&) {
        Tell(JOURNAL_ERR, "The update of outbox row %s failed: its result %d stays journalled.", msgId.c_str(), result);
        throw;
    }
    if (changed < 0) {
        Tell(JOURNAL_ERR, "The update of outbox row %s found no connection: its result %d stays journalled.",
             msgId.c_str(), result);
        throw CDbError(DB_E_FAIL, "no connection for the update statement");
    }
    if (changed == 0 && Sharing())
        Tell(JOURNAL_WARNING,
             "Outbox row %s is no longer claimed by this gateway (taken back or deleted): result %d not written.",
             msgId.c_str(), result);
    // The entry leaves the state store with the result's webhook event in one transaction.
    // Killed after the update's commit and before that transaction, the gateway finds the
    // entry again, runs the update once more and queues the event then: once.
    std::optional<WebhookEvent> event;
    if (entry && Webhooks()) event = ResultEvent(msgId, entry->phone, result, entry->reason, m_clock.WallMs());
    m_journal.Remove(msgId, event ? &*event : nullptr);
}

// The claim is journalled before it is made, so that a claim a crash left unused is given
// back. A database error throws with the claim journalled; it is given back later.
CGateway::Claim CGateway::ClaimRow(const std::string& msgId) {
    if (!m_journal.MarkClaimed(msgId)) {
        Tell(JOURNAL_ERR, "The outbound journal cannot be written (%s): outbox row %s not claimed.",
             m_journal.LastError().c_str(), msgId.c_str());
        return Claim::Stop;
    }
    const long changed = m_db.ExecuteChange(BuildClaimSql(m_settings.m_strClaimSql, msgId, m_strInstance));
    if (changed < 0) throw CDbError(DB_E_FAIL, "no connection for the claim statement");
    if (changed == 1) return Claim::Won;
    if (changed > 1)
        Tell(JOURNAL_ERR, "The claim of outbox row %s changed %ld rows; claim_sql must change only the row it names.",
             msgId.c_str(), changed);
    // Another gateway has it. The release costs little and gives the row back should a
    // retried claim have succeeded the first time.
    ReleaseRow(msgId);
    return Claim::Lost;
}

// Gives back a claimed row that never reached the modem and forgets the claim; throws on
// a database error, the claim staying journalled.
void CGateway::ReleaseRow(const std::string& msgId) {
    if (!m_settings.m_strReleaseSql.empty() &&
        m_db.ExecuteChange(BuildClaimSql(m_settings.m_strReleaseSql, msgId, m_strInstance)) < 0)
        throw CDbError(DB_E_FAIL, "no connection for the release statement");
    m_journal.Remove(msgId);
}

// Writes back results kept from earlier cycles (or found "sending" at start) whose update
// has not succeeded yet, and gives back claims never used. Throws on the first one that
// fails again; the rest stay journalled.
void CGateway::FlushJournal() {
    auto entries = m_journal.Entries();
    for (const auto& entry : entries) {
        if (entry.state == JournalState::Result) WriteResult(entry.msgId, entry.result);
        if (entry.state == JournalState::Claimed) ReleaseRow(entry.msgId);
    }
}

bool CGateway::Addressable(const std::string& msgId) const {
    return TemplateAddressesId(m_settings.m_strUpdateSql, msgId) &&
           (m_settings.m_strReportSql.empty() || TemplateAddressesId(m_settings.m_strReportSql, msgId)) &&
           (!Sharing() || (TemplateAddressesId(m_settings.m_strClaimSql, msgId) &&
                           (m_settings.m_strReleaseSql.empty() ||
                            TemplateAddressesId(m_settings.m_strReleaseSql, msgId))));
}

void CGateway::SendPending() {
    m_bOutsidePeriod = false;
    if (m_settings.m_nUnsent <= 0 && m_journal.Empty()) return;
    try {
        FlushJournal();
    } catch (const CDbError& e) {
        JournalDbError("writing back a kept result", e);
        m_run.m_bDatabaseLinked = 0;
        m_status.SetStatus(STATUS_UPDATE_ERROR);
        return;
    }
    if (m_settings.m_nUnsent <= 0) return;

    if (m_settings.m_bSendingPeriod) {
        int hour = m_clock.LocalHour();
        if (hour < m_settings.m_nStartTime || hour >= m_settings.m_nEndTime) {
            m_bOutsidePeriod = true;
            m_status.SetStatus(STATUS_PERIOD_EXCEEDED);
            return;
        }
    }

    try {
        SendRows();
    } catch (const CDbError& e) {
        JournalDbError("the outbox cycle", e);
        m_run.m_bDatabaseLinked = 0;
        m_status.SetStatus(STATUS_UPDATE_ERROR);
    }
    m_db.CloseQuery();
}

// Sends the rows of the select statement batch by batch until a select brings no row
// this cycle has not dealt with; database errors reach the caller. Only the hashes of
// the handled ids are kept: a collision merely leaves a row for the next cycle.
void CGateway::SendRows() {
    std::unordered_set<size_t> handled;
    for (;;) {
        std::vector<OutboxRow> batch = ReadBatch(handled);
        if (batch.empty()) return;
        size_t start = 0;
        if (Sharing()) {
            // A step of a 64-bit linear congruential generator, seeded from the instance name
            // and the clock: gateways of one outbox start at different places.
            if (m_claimSeed == 0) {
                const auto now = static_cast<std::uint64_t>(m_clock.WallMs());
                m_claimSeed = (std::hash<std::string>{}(m_strInstance) ^ now) | 1;
            }
            m_claimSeed = m_claimSeed * 6364136223846793005ULL + 1442695040888963407ULL;
            start = static_cast<size_t>(m_claimSeed >> 33) % batch.size();
        }
        m_bClaimLost = false;
        for (size_t k = 0; k < batch.size() && !m_bClaimLost; ++k) {
            const OutboxRow& row = batch[(start + k) % batch.size()];
            handled.insert(std::hash<std::string>{}(row.msgId));
            const bool goOn = SendRow(row);
            // What the modem said meanwhile (a direct message among the answers) is taken now,
            // not after the whole batch.
            PollIndications();
            if (!goOn) return;
        }
    }
}

std::vector<CGateway::OutboxRow> CGateway::ReadBatch(const std::unordered_set<size_t>& handled) {
    std::vector<OutboxRow> batch;
    m_db.OpenQuery(BuildSelectSql(m_settings.m_strSelectSql));
    for (; !m_db.IsEof() && batch.size() < BATCH_ROWS; m_db.MoveNext()) {
        OutboxRow row{m_db.GetFieldString(COLUMN_MSGID), m_db.GetFieldString(COLUMN_PHONE),
                      m_db.GetFieldString(COLUMN_MSGBODY)};
        // A journalled row already went to the modem (or was refused): never a second time.
        if (handled.count(std::hash<std::string>{}(row.msgId)) || m_journal.Contains(row.msgId)) continue;
        batch.push_back(std::move(row));
    }
    m_db.CloseQuery();
    return batch;
}

// A row refused before the modem: written back as -1, nothing sent. Throws as WriteResult.
bool CGateway::Refuse(const OutboxRow& row, const char* reason) {
    Tell(JOURNAL_NOTICE, "Outbox row %s refused (%s): nothing sent.", row.msgId.c_str(), reason);
    CountResult(RESULT_FAILED);
    if (m_activity) m_activity->MessageDone(true, row.phone, row.text, "failed");
    --m_settings.m_nUnsent;
    PublishPending();
    Save();
    // The number as the row gave it, for the webhook event: any text, so bounded.
    m_journal.SetResult(row.msgId, RESULT_FAILED, reason, CutUtf8(row.phone, MAX_REFUSED_PHONE_BYTES));
    WriteResult(row.msgId, RESULT_FAILED);
    return true;
}

// Sends one row; false when the cycle must end (stop request, journal not writable).
bool CGateway::SendRow(const OutboxRow& row) {
    m_status.SetStatus(STATUS_SENDING_SMS);
    if (!Addressable(row.msgId)) {
        // Its result cannot be written without risk to other rows: it keeps status 0.
        if (m_unaddressable.insert(row.msgId).second) {
            Tell(JOURNAL_WARNING, "Outbox row \"%s\" refused: the statement templates cannot name this id; nothing sent.",
                               row.msgId.c_str());
            CountResult(RESULT_FAILED);
            Save();
        }
        return true;
    }
    if (Sharing()) {
        switch (ClaimRow(row.msgId)) {
        case Claim::Stop:
            return false;
        case Claim::Lost:
            --m_settings.m_nUnsent;
            PublishPending();
            m_bClaimLost = true;
            return true;
        case Claim::Won:
            break;
        }
    }
    const std::string phone = DialableNumber(row.phone);
    if (phone.empty()) return Refuse(row, "not a dialable number");
    if (row.text.empty()) return Refuse(row, "empty text");
    if (row.text.size() > MAX_OUTBOX_TEXT_BYTES) return Refuse(row, "text longer than 64 segments can hold");
    if (row.text.find('\0') != std::string::npos) return Refuse(row, "NUL character in the text");
    const int kind = m_settings.m_bLongSms + 1;
    const int segments = m_modem.CountSegments(phone, row.text, kind);
    if (segments <= 0) return Refuse(row, "text too long");
    // The blank every text gets is left off where it would cost one more SMS.
    const std::string text =
        m_modem.CountSegments(phone, row.text + " ", kind) == segments ? row.text + " " : row.text;

    bool answered = false;
    for (int i = 0; i < 3 && !answered && !m_run.m_bStop; ++i) {
        answered = m_modem.SendCommand("AT\r", "OK", 100).find("OK") != std::string::npos;
        if (!answered) m_clock.SleepMs(100);
    }
    if (!answered) {
        // Skipped: it keeps (or, claimed, gets back) status 0 and is selected again later.
        if (Sharing()) ReleaseRow(row.msgId);
        if (m_run.m_bStop) return false;
        return SleepSlices(m_clock, m_run.m_bStop, 10, m_settings.m_nRetryInterval * 100);
    }

    if (!m_journal.MarkPrompting(row.msgId, phone)) {
        Tell(JOURNAL_ERR, "The outbound journal cannot be written (%s): outbox row %s not sent.",
             m_journal.LastError().c_str(), row.msgId.c_str());
        return false;
    }
    const bool report = !m_settings.m_strReportSql.empty();
    m_modem.SetReportRequest(report ? 1 : 0);
    bool journalled = true;
    m_modem.SetBeforePdu([&] { return journalled = m_journal.MarkSending(row.msgId); });
    const auto handedAt = std::chrono::steady_clock::now();
    const int sent = m_modem.SendMessage(phone, text, kind);
    m_modem.SetBeforePdu(nullptr);
    if (m_activity && sent != SEND_NOT_HANDED)
        m_activity->Submitted(std::chrono::duration<double>(std::chrono::steady_clock::now() - handedAt).count());
    const bool restarted = m_modem.TakeReset();
    // A modem that restarted lost its settings: the link is opened and set up again.
    if (restarted) m_run.m_bDeviceLinked = 0;
    if (sent == SEND_NOT_HANDED) {
        // Nothing reached the modem and nothing refused the row: it stays pending.
        if (Sharing()) {
            m_journal.Unclaim(row.msgId);
            ReleaseRow(row.msgId);
        } else {
            m_journal.Remove(row.msgId);
        }
        if (!journalled)
            Tell(JOURNAL_ERR, "The outbound journal cannot be written (%s): outbox row %s not sent.",
                 m_journal.LastError().c_str(), row.msgId.c_str());
        else
            Tell(JOURNAL_WARNING, "Outbox row %s: the modem %s before it took the message; it is sent later.",
                 row.msgId.c_str(), restarted ? "restarted or went away" : "was not ready");
        return false;
    }
    int result = RESULT_FAILED;
    std::string reason;
    if (sent >= 0) {
        result = RESULT_SENT;
        // The message reference, for matching the status report to this row.
        if (report && !m_reports.Add({sent, row.msgId, phone, m_clock.WallMs()}))
            Tell(JOURNAL_ERR, "The state store cannot be written (%s): the delivery of outbox row %s will not be known.",
                 StateError().c_str(), row.msgId.c_str());
    } else {
        const std::string error = m_modem.SubmitError();
        reason = CutUtf8(error.empty() ? "refused by the modem" : error, MAX_REASON_BYTES);
        if (sent == RESULT_UNKNOWN) {
            result = RESULT_UNKNOWN;
            reason = restarted ? "the modem restarted or went away after the submission"
                               : "the modem did not answer the submission";
            Tell(JOURNAL_WARNING, "Outbox row %s: the modem %s after the submission; result unknown (%d).",
                 row.msgId.c_str(), restarted ? "restarted or went away" : "did not answer", result);
        }
    }
    if (result != RESULT_UNKNOWN)
        ::Journal(JOURNAL_INFO, "outbox row %s %s", row.msgId.c_str(), result == RESULT_SENT ? "sent" : "refused by the modem");
    if (!m_journal.SetResult(row.msgId, result, reason))
        Tell(JOURNAL_ERR, "The outbound journal cannot be written (outbox row %s, result %d).", row.msgId.c_str(),
                           result);
    CountResult(result);
    if (m_activity)
        m_activity->MessageDone(true, row.phone, row.text,
                                result == RESULT_SENT ? "sent" : result == RESULT_UNKNOWN ? "unknown" : "failed");
    --m_settings.m_nUnsent;
    PublishPending();
    Save();

    WriteResult(row.msgId, result);
    m_status.SetStatus(STATUS_IDLE);
    if (restarted) return false;  // the rest waits for the link to be set up again
    return SleepSlices(m_clock, m_run.m_bStop, 10, m_modem.RetryInterval() * 100);
}
