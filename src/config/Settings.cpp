#include "config/Settings.h"

CSettings theSettings;

const char* const DEFAULT_SELECT_SQL =
    "select msgid as <MSGID>, phone as <PHONE>, msgbody as <MSGBODY> from smsout where status=0";
const char* const DEFAULT_UPDATE_SQL = "update smsout set status=<RESULT> where msgid='<MSGID>'";
const char* const DEFAULT_INSERT_SQL =
    "insert into smsin(phone, msgbody, rectime) values('<PHONE>', '<MSGBODY>', '<TIME>')";

void CSettings::SetDefaults() {
    m_nPort = 1;
    m_nBaudRate = 0;
    m_nRetryInterval = 3;
    m_nRetryCount = 3;
    m_strSmsc.clear();
    m_bLongSms = 1;  // long texts reach the phone as one concatenated message

    m_strDsn = "DADIvav";
    m_strDbUser.clear();
    m_strDbPassword.clear();
    m_strSelectSql = DEFAULT_SELECT_SQL;
    m_strUpdateSql = DEFAULT_UPDATE_SQL;
    m_strInsertSql = DEFAULT_INSERT_SQL;
    m_nQueryInterval = 5;

    m_bSendingPeriod = 1;
    m_nStartTime = 9;
    m_nEndTime = 17;
    m_bDailyReport = 0;
    m_nReportTime = 17;
    m_bBatteryWarning = 0;
    m_bDbLostWarning = 0;
    m_strReportPhone.clear();
    m_bAutoStart = 1;
    m_bLogFile = 1;
    m_bMultipartJoin = 1;
    m_nMultipartTimeout = 10;
    m_strReportSql.clear();
    m_strClaimSql.clear();
    m_strReleaseSql.clear();
    m_strReclaimSql.clear();
    m_nClaimTimeout = 30;
    m_strReplyNumbers.clear();
    m_nReplyLimit = 3;
    m_strOutboxInsertSql = DEFAULT_OUTBOX_INSERT_SQL;
    m_strWebhookUrl.clear();
    m_strWebhookSecret.clear();
    m_strHttpListen.clear();
    m_strHttpToken.clear();
    m_strOutboxStatusSql = DEFAULT_OUTBOX_STATUS_SQL;

    m_bReportSent = 0;
    m_bBatteryWarned = 0;
    m_bDbLostWarned = 0;
    m_nSent = 0;
    m_nReceived = 0;
    m_nFailed = 0;
    m_nUnsent = 0;
}

std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t n = maxBytes;
    // Step back while the first byte left out continues a sequence begun before it.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return text.substr(0, n);
}
