#pragma once
// The settings record of the gateway: every configuration value and the little state
// that survives a restart. Its file is config/SettingsFile.h.
#include <cstddef>
#include <string>

// The default outbox insert of `pellwick -send`.
inline constexpr const char* DEFAULT_OUTBOX_INSERT_SQL =
    "insert into smsout(phone, msgbody, status) values('<PHONE>', '<MSGBODY>', 0) returning msgid";
// The default status query of the HTTP interface.
inline constexpr const char* DEFAULT_OUTBOX_STATUS_SQL = "select status from smsout where msgid='<MSGID>'";

class CSettings {
public:
    // The member initialisers are the values held before the first load; they differ
    // from the defaults of a new file (SetDefaults) in the DSN, the SQL templates,
    // the query interval and the start hour.

    // Device
    int m_nPort = 1;            // 0 = infrared, n = COMn
    int m_nBaudRate = 0;        // index into 9600, 19200, 38400, 57600, 115200
    int m_nRetryInterval = 3;   // seconds
    int m_nRetryCount = 3;      // attempts after the first
    std::string m_strSmsc;
    int m_bLongSms = 0;
    std::string m_strPin;       // memory only: never stored

    // Database
    std::string m_strDsn;
    std::string m_strDbUser;
    std::string m_strDbPassword;
    std::string m_strSelectSql;
    std::string m_strUpdateSql;
    std::string m_strInsertSql;
    int m_nQueryInterval = 10;  // worker ticks between outbox polls, at least 1

    // Message
    int m_bSendingPeriod = 1;
    int m_nStartTime = 10;      // hour index 0..24
    int m_nEndTime = 17;
    int m_bDailyReport = 0;
    int m_nReportTime = 17;
    int m_bBatteryWarning = 0;
    int m_bDbLostWarning = 0;
    std::string m_strReportPhone;
    int m_bAutoStart = 1;
    int m_bLogFile = 1;         // reserved: 1 in a new file, 0 after a load

    // Kept in Pellwick.conf beside the record (config/ConfFile.h)
    int m_bMultipartJoin = 1;       // join the parts of a concatenated message into one row
    int m_nMultipartTimeout = 10;   // minutes a message waits for its missing parts
    std::string m_strReportSql;     // run for each status report; empty: none are requested
    // Several gateways on one outbox: a row is sent by the gateway whose claim changed it.
    std::string m_strClaimSql;      // claims a row before it is sent; empty: the only gateway
    std::string m_strReleaseSql;    // gives back a claimed row that never reached the modem
    std::string m_strReclaimSql;    // takes back claims older than m_nClaimTimeout minutes
    int m_nClaimTimeout = 30;       // minutes; 0: a claim is never taken over
    // Keyword replies: the senders answered (comma list of numbers, a trailing '*' a
    // prefix; empty: any) and the replies per sender per hour (0: none).
    std::string m_strReplyNumbers;
    int m_nReplyLimit = 3;
    // Queues one message (`-send`): "<PHONE>", "<MSGBODY>" and "<MSGID>" (a fresh id) bound.
    std::string m_strOutboxInsertSql = DEFAULT_OUTBOX_INSERT_SQL;
    // Webhooks: the receiver events are posted to (empty: none are queued) and the key
    // that signs them.
    std::string m_strWebhookUrl;
    std::string m_strWebhookSecret;
    // The HTTP interface: where it listens (empty: off) and the token it asks for (the one
    // in effect may come from a file or a credential: ReadHttpToken), and the query that
    // answers for one message's status with "<MSGID>" bound.
    std::string m_strHttpListen;
    std::string m_strHttpToken;
    std::string m_strOutboxStatusSql = DEFAULT_OUTBOX_STATUS_SQL;

    // Persisted state written by the engine
    int m_bReportSent = 0;
    int m_bBatteryWarned = 0;
    int m_bDbLostWarned = 0;
    int m_nSent = 0;
    int m_nReceived = 0;
    int m_nFailed = 0;
    int m_nUnsent = 0;

    // Memory only: set by the configuration window when a reconnect is needed.
    int m_bDeviceChanged = 0;
    int m_bDbChanged = 0;

    // Every stored field to the value of a new file; m_strPin and the change flags stay.
    void SetDefaults();
};

// The default templates of a new file.
extern const char* const DEFAULT_SELECT_SQL;
extern const char* const DEFAULT_UPDATE_SQL;
extern const char* const DEFAULT_INSERT_SQL;

// The UTF-8-safe cut used for text fields: at most maxBytes bytes of `text`.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);

// The one record of the process, shared by the window and the worker.
extern CSettings theSettings;
