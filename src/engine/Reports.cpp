// The daily report, the battery and database warnings, and the replies to query keywords.
#include "engine/Gateway.h"

#include <cstdio>

namespace {

constexpr int KIND_TEXT_MESSAGE = 1;
constexpr int kBatteryThreshold = 80;

std::string Format(const char* format, int unsent, int sent, int failed, int received) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, format, unsent, sent, failed, received);
    return buffer;
}

}  // namespace

// Reports, warnings and replies; a gateway among several says which one it is.
int CGateway::Send(const std::string& phone, const std::string& text) {
    if (!SendingAllowed()) return -1;
    m_modem.SetReportRequest(0);
    const bool named = m_bNamedInstance || Sharing();
    return m_modem.SendMessage(phone, named ? m_strInstance + ": " + text : text, KIND_TEXT_MESSAGE);
}

void CGateway::CheckReports() {
    auto stillUp = [this] { return m_run.m_bRunning == 1 && m_run.m_bDeviceLinked == 1; };
    if (!stillUp()) return;
    CSettings& s = m_settings;

    if (m_run.m_bDatabaseLinked == 1 && s.m_bDailyReport) {
        if (m_clock.LocalHour() == s.m_nReportTime) {
            if (!s.m_bReportSent) {
                m_status.SetStatus(STATUS_DAILY_REPORT);
                std::string text = Format("SMS Service daily report: unsent:%d, sent:%d, failed:%d, received:%d.",
                                          s.m_nUnsent, s.m_nSent, s.m_nFailed, s.m_nReceived);
                if (Send(s.m_strReportPhone, text) >= 0) {
                    s.m_bReportSent = 1;
                    Save();
                }
            }
        } else if (s.m_bReportSent) {
            s.m_bReportSent = 0;
            Save();
        }
        if (!stillUp()) return;
    }

    if (s.m_bBatteryWarning) {
        int level = Device().battery;
        bool acted = false;
        if (level < 0 || level > kBatteryThreshold) {
            // Re-armed; the file is written only when the latch really changes.
            if (s.m_bBatteryWarned) {
                s.m_bBatteryWarned = 0;
                Save();
            }
            acted = true;
        } else if (!s.m_bBatteryWarned) {
            m_status.SetStatus(STATUS_BATTERY_WARNING);
            if (Send(s.m_strReportPhone, "Warning: Battery low.") >= 0) {
                s.m_bBatteryWarned = 1;
                Save();
            }
            acted = true;
        }
        if (acted && !stillUp()) return;
    }

    if (s.m_bDbLostWarning) {
        if (m_run.m_bDatabaseLinked == 0 && !s.m_bDbLostWarned) {
            m_status.SetStatus(STATUS_DB_LOST_WARNING);
            if (Send(s.m_strReportPhone, "Warning: Database connection is lost.") >= 0) {
                s.m_bDbLostWarned = 1;
                Save();
            }
        } else if (m_run.m_bDatabaseLinked == 1 && s.m_bDbLostWarned) {
            s.m_bDbLostWarned = 0;
            Save();
        }
    }
}

void CGateway::AnswerQuery(const std::string& phone, const std::string& text) {
    const CSettings& s = m_settings;
    const bool report = text.find("<REPORT>") != std::string::npos;
    if (!report && text.find("<STATUS>") == std::string::npos) return;
    const long long now = m_clock.WallMs();
    const auto verdict = m_replies.Take(phone, s.m_strReplyNumbers, s.m_nReplyLimit, now);
    if (verdict != CReplyLimiter::Verdict::Reply) {
        if (verdict != CReplyLimiter::Verdict::Off && m_replies.FirstRefusal(phone, now))
            ::Journal(JOURNAL_NOTICE, "keyword from %s not answered: %s (no further note for an hour)", phone.c_str(),
                      verdict == CReplyLimiter::Verdict::NotListed     ? "not in reply_numbers"
                      : verdict == CReplyLimiter::Verdict::SenderLimit ? "over reply_limit replies an hour"
                                                                       : "the day's replies are used up");
        return;
    }
    if (report) {
        m_status.SetStatus(STATUS_SERVICE_REPLY);
        Send(phone, Format("SMS Service report: unsent:%d, sent:%d, fail:%d, recevied:%d", s.m_nUnsent, s.m_nSent,
                           s.m_nFailed, s.m_nReceived));
    } else if (text.find("<STATUS>") != std::string::npos) {
        m_status.SetStatus(STATUS_SERVICE_REPLY);
        const char* reply = "Pellwick is stopped.";
        bool device = m_run.m_bDeviceLinked == 1, database = m_run.m_bDatabaseLinked == 1;
        if (m_run.m_bRunning == 1) {
            if (device && database)
                reply = "Pellwick is running normally.";
            else if (device)
                reply = "Pellwick is running but database is disconnected.";
            else if (database)
                reply = "Pellwick is running but GSM device is disconnected.";
        }
        Send(phone, reply);
    }
}
