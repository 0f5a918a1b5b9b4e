// Delivery reports: a status report is matched to the outbox row it reports on, and
// report_sql writes its outcome.
#include "db/DbError.h"
#include "engine/Gateway.h"
#include "engine/SqlTemplates.h"

bool CGateway::TakeReport(const ModemReport& report) {
    const long long now = m_clock.WallMs();
    const Submission* submission = m_reports.Match(report.reference, report.phone, now);
    if (!submission) {
        ::Journal(JOURNAL_NOTICE, "status report for reference %d to %s matches no submission; deleted",
                  report.reference, report.phone.c_str());
        return true;
    }
    if (m_run.m_bDatabaseLinked != 1) return false;
    const int status = ReportStatusValue(report.status);
    try {
        m_db.ExecuteSql(BuildReportSql(m_settings.m_strReportSql, submission->msgId, report.phone,
                                       FormatTimeValue(report.discharge), status));
    } catch (const CDbError& e) {
        JournalDbError("writing a delivery report", e);
        return false;
    }
    const std::string msgId = submission->msgId;  // Remove lets go of the submission
    ::Journal(JOURNAL_INFO, "outbox row %s: status report %d (%s)", msgId.c_str(), report.status,
              status == 1 ? "delivered" : status == 0 ? "still trying" : "failed");
    // The event's id is derived from the report: one the modem gives again after a crash
    // (before it was deleted or acknowledged) reaches the receiver under the same event_id.
    std::optional<WebhookEvent> event;
    if (Webhooks())
        event = DeliveredEvent(msgId, status, now,
                               msgId + '\x1F' + std::to_string(report.reference) + '\x1F' + report.phone + '\x1F' +
                                   report.discharge + '\x1F' + std::to_string(report.status));
    // A final outcome ends the submission, in one transaction with its event; after a
    // temporary one a later report follows.
    const bool kept = status != 0 ? m_reports.Remove(submission, now, event ? &*event : nullptr)
                                  : !event || m_state->QueueEvent(*event);
    if (!kept)
        ::Journal(JOURNAL_ERR, "cannot write the state store after outbox row %s: %s", msgId.c_str(),
                  StateError().c_str());
    return true;
}
