#pragma once
// The settings record of the gateway and its binary file "Pellwick.ini": a fixed
// sequence of 32-bit little-endian integers and fixed-width text fields, 1016 bytes.
#include <cstddef>
#include <string>

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
    // Webhooks: the receiver events are posted to (empty: none are queued) and the key
    // that signs them.
    std::string m_strWebhookUrl;
    std::string m_strWebhookSecret;

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

// Size of the stored record in bytes.
constexpr std::size_t SETTINGS_FILE_SIZE = 1016;

// The default templates of a new file.
extern const char* const DEFAULT_SELECT_SQL;
extern const char* const DEFAULT_UPDATE_SQL;
extern const char* const DEFAULT_INSERT_SQL;

// The record as stored: exactly SETTINGS_FILE_SIZE bytes. A text longer than its field
// keeps its first (width - 1) bytes, shortened further so no UTF-8 sequence is split.
std::string EncodeSettings(const CSettings& settings);

// Reads the stored fields from the first `size` bytes of `data` (bytes past 1016 are
// ignored). Fields the data does not hold whole keep their values; a query interval
// below 1 becomes 1. Returns the number of fields read.
int DecodeSettings(CSettings& settings, const char* data, std::size_t size);

// The UTF-8-safe cut used for text fields: at most maxBytes bytes of `text`.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);

// The one record of the process, shared by the window and the worker.
extern CSettings theSettings;

// Path of the settings file used by LoadSettings / SaveSettings.
void SetSettingsPath(const std::string& path);
std::string GetSettingsPath();

// The state folder: the folder of the settings file, where the PIN, the state store and
// the log live too. Every file there is private to the gateway (mode 0600).
std::string StateFolder();
// Writes the bytes to a temporary file beside `path`, fsyncs it and renames it over
// `path` (mode 0600), so the file is either the old one or the new one, never a short
// one. False with errno set.
bool ReplaceStateFile(const std::string& path, const std::string& data);
// The path of a file of the state folder ("Pellwick.pin" -> "<folder>/Pellwick.pin").
std::string StatePath(const std::string& name);

// This gateway's name among several that share one outbox: the host name and the state
// folder's name, "host/folder". It fills "<INSTANCE>" of the claim statements.
std::string InstanceName();
// Set for a gateway started as a named instance (-instance NAME): its reports and warnings
// then say which gateway sent them.
void SetNamedInstance(bool named);
bool IsNamedInstance();

// Loads theSettings from the settings file: 1 when the file was read, 0 when defaults
// were applied (and written). The PIN comes from ReadStoredPin.
int LoadSettings();
// Writes theSettings whole: 1 on success, 0 after reporting "Save configure file error.".
// Settings another process saved meanwhile (see SyncSettings) are taken in first, so a
// save of the counters never undoes a `-set`.
int SaveSettings();

// Takes into theSettings what another process (`-set`) changed in the settings file or
// the PIN file since this process last read or wrote them; with `force` (a reload
// request) both files are read again whatever their time stamps say. Returns the
// SettingEffect bits (config/SettingFields.h) of everything taken since the last call.
int SyncSettings(bool force = false);
// Asks the next SyncSettings to read the files again; safe in a signal handler.
void RequestSettingsReload();
bool TakeSettingsReloadRequest();

constexpr const char* PIN_FILE_NAME = "Pellwick.pin";

// The PIN for unattended runs: the service manager's credential "pin"
// ($CREDENTIALS_DIRECTORY/pin) when present, else the PIN file "Pellwick.pin" of the
// state folder, else "". Trailing line ends and blanks are not part of it.
std::string ReadStoredPin();
// Writes the PIN file (mode 0600) or, for an empty PIN, removes it; false with errno set.
bool WriteStoredPin(const std::string& pin);

// Holds the lock every writer of the state folder's settings takes (this process and
// `-set` in another one) for as long as it lives.
class CSettingsLock {
public:
    CSettingsLock();
    ~CSettingsLock();
    CSettingsLock(const CSettingsLock&) = delete;
    CSettingsLock& operator=(const CSettingsLock&) = delete;

private:
    int m_fd = -1;
};

// Reads the file into the record as LoadSettingsFile does, but writes nothing: false
// when it cannot be read (the record is then unchanged).
bool ReadSettingsFile(CSettings& settings, const std::string& path);

// The same operations on any record and file; saves of the process are serialised.
int LoadSettingsFile(CSettings& settings, const std::string& path);
int SaveSettingsFile(const CSettings& settings, const std::string& path);
