// The outbound cycle: count the outbox, send each pending row, write the result back.
#include "db/DbError.h"
#include "engine/Gateway.h"
#include "engine/SqlTemplates.h"

#include <string>

void CGateway::CountUnsent() {
    if (m_run.m_bDatabaseLinked != 1) {
        m_settings.m_nUnsent = 0;
        return;
    }
    m_status.SetStatus(STATUS_DB_QUERY);
    std::string sql = BuildCountSql(m_settings.m_strSelectSql);
    if (sql.empty()) {
        m_status.SetStatus(STATUS_SELECT_ERROR);
        return;
    }
    try {
        m_db.OpenQuery(sql);
        m_settings.m_nUnsent = m_db.IsEof() ? 0 : m_db.GetFieldInt("count");
    } catch (const CDbError& e) {
        JournalDbError("counting the outbox", e);
        m_run.m_bDatabaseLinked = 0;
        m_status.SetStatus(STATUS_SELECT_ERROR);
    }
    m_db.CloseQuery();
}

// Writes back results kept from earlier cycles whose update failed. Throws the
// database error of the first one that fails again; the rest stay journalled.
void CGateway::FlushJournal() {
    auto entries = m_journal.Entries();
    for (const auto& [msgId, result] : entries) {
        m_db.ExecuteSql(BuildUpdateSql(m_settings.m_strUpdateSql, msgId, result));
        m_journal.Remove(msgId);
    }
}

void CGateway::SendPending() {
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

// Sends every row of the select statement; database errors reach the caller.
void CGateway::SendRows() {
    m_db.OpenQuery(BuildSelectSql(m_settings.m_strSelectSql));
    while (!m_db.IsEof()) {
        m_status.SetStatus(STATUS_SENDING_SMS);
        std::string phone = m_db.GetFieldString("zPhone");
        std::string text = m_db.GetFieldString("zMsgBody") + " ";
        std::string msgId = m_db.GetFieldString("zMsgID");

        // A row whose result is journalled already went out: never send it twice.
        if (m_journal.Contains(msgId)) {
            m_db.MoveNext();
            continue;
        }

        bool answered = false;
        for (int i = 0; i < 3 && !answered; ++i) {
            if (m_run.m_bStop) return;
            answered = m_modem.SendCommand("AT\r", "OK", 100).find("OK") != std::string::npos;
            if (!answered) m_clock.SleepMs(100);
        }
        if (!answered) {
            // Skipped: it keeps status 0 and is selected again by a later cycle.
            m_db.MoveNext();
            if (!SleepSlices(m_clock, m_run.m_bStop, 10, m_settings.m_nRetryInterval * 100)) return;
            continue;
        }

        int kind = m_settings.m_bLongSms + 1;
        int result = RESULT_FAILED;
        const bool report = !m_settings.m_strReportSql.empty();
        m_modem.SetReportRequest(report ? 1 : 0);
        const int reference = m_modem.SendMessage(phone, text, kind);
        if (reference >= 0) {
            ++m_settings.m_nSent;
            result = RESULT_SENT;
            if (report && !m_reports.Add({reference, msgId, phone, m_clock.WallMs()}))
                ::Journal(JOURNAL_ERR, "cannot write the reference of outbox row %s to the report file", msgId.c_str());
        } else {
            ++m_settings.m_nFailed;
        }
        // Kept until the database holds it, so a failed update never resends the row.
        m_journal.Add(msgId, result);
        ::Journal(JOURNAL_INFO, "outbox row %s %s", msgId.c_str(), result == RESULT_SENT ? "sent" : "refused by the modem");
        --m_settings.m_nUnsent;
        Save();

        m_db.ExecuteSql(BuildUpdateSql(m_settings.m_strUpdateSql, msgId, result));
        m_journal.Remove(msgId);
        m_db.MoveNext();
        m_status.SetStatus(STATUS_IDLE);
        if (!SleepSlices(m_clock, m_run.m_bStop, 10, m_modem.RetryInterval() * 100)) return;
    }
}
