#pragma once
// CMobile: the GSM modem driver. One object per process, used from the worker thread; it
// talks to the device only through its CConnection, one AT command and one reply at a time.
// Every public operation runs under the busy flag, so an operation entered while another
// one waits (from a message dispatched during a wait) is turned away instead of interleaving.
#include "link/Clock.h"
#include "link/Connection.h"
#include "modem/ReplyParser.h"
#include "pdu/SmsPdu.h"

#include <memory>
#include <string>
#include <vector>

// Results of CMobile::PollEvents besides 0 (link unusable), -1 (busy) and 1 (nothing).
constexpr int POLL_NEW_MESSAGE = 9001;
constexpr int POLL_STATUS_REPORT = 9002;
constexpr int POLL_INCOMING_CALL = 9003;

// Submission modes of CMobile::SubmitPdus: send with AT+CMGS; anything else stores with AT+CMGW.
constexpr int SUBMIT_SEND = 9102;

class CMobile {
public:
    // connection: the device link (null = the system's serial port and infrared layer);
    // clock: every wait and time stamp of the driver.
    explicit CMobile(std::unique_ptr<CConnection> connection = nullptr, IClock& clock = SystemClock());
    virtual ~CMobile();
    CMobile(const CMobile&) = delete;
    CMobile& operator=(const CMobile&) = delete;

    // --- Exchange, guard and parsing -----------------------------------------------------
    int WaitNotBusy();  // 0 free, non-zero still busy
    // The command without its CR; the reply unjudged, empty when busy.
    std::string SendCommand(const std::string& command, const std::string& extra, int timeoutMs);
    // Fills m_fields / m_nFieldCount from a reply: 1 parsed, -1 empty reply or prefix missing.
    int ParseReply(const std::string& reply, const std::string& prefix);
    void PumpPaintMessages();

    // --- Connection, initialisation and identity -----------------------------------------
    int Connect();
    int Disconnect();
    std::string GetImei();
    std::string GetManufacturer();
    std::string GetModel();
    int SetStorage(const std::string& storage);
    // Internal steps: run inside a guarded operation, take no guard themselves.
    int Initialize();
    std::string QueryImei();
    std::string QueryManufacturer();
    std::string QueryModel();
    int SetCharacterSet(const std::string& charset);
    int SelectStorage(const std::string& storage);
    std::string GetReadMemory();
    int ParseRangeGroups(std::vector<std::string>& groups, const std::string& text, int maxCount);
    // The AT+CNMI command (with its CR) chosen from an AT+CNMI=? reply.
    static std::string ChooseCnmiCommand(const std::string& testReply);

    // --- Battery, signal, service centre -------------------------------------------------
    int GetBatteryLevel();    // 0..100 %, 101 external power, 102 no battery, -1 failure
    int GetSignalQuality();   // rssi 0..99 as reported, -1 failure
    int SetServiceCentre(const std::string& number);
    std::string EncodeForCharset(const std::string& text);

    // --- Message store -------------------------------------------------------------------
    int GetUsedCount();
    int GetTotalCount();
    int ReadMessage(int index);        // into the record; no guard (callers hold it)
    int ReadStoredMessage(int index);  // into the last-read slot
    // The stores AT+CPMS? names (read, write, receive) with their used and total counts;
    // empty when the query fails.
    struct StoreUse {
        std::string strName;
        int nUsed = 0, nTotal = 0;
    };
    std::vector<StoreUse> GetStoreUse();
    int DeleteMessage(int index);

    // --- Submission ----------------------------------------------------------------------
    int SendMessage(const std::string& phone, const std::string& text, int kind);
    int SubmitPdus(int mode);
    void SetSendAttempts(int attempts) { m_nSendAttempts = attempts; }
    void SetRetryInterval(int seconds) { m_nRetryInterval = seconds; }

    // --- Unsolicited indications ---------------------------------------------------------
    int PollEvents();

    CConnection& Connection() { return *m_pConnection; }

    // Exchange state (the busy flag and the fields of the last parsed reply).
    int m_bBusy = 0;
    ReplyFields m_fields;
    int m_nFieldCount = 0;

    // Link settings, copied into the connection at every Connect.
    int m_nConnectionMode = 0;
    int m_nPort = 1;
    int m_nBaudRate = 9600;
    std::string m_strPin;
    int m_nLines = 3;  // DTR and RTS raised after a serial link opens

    // What the initialisation found.
    std::string m_strManufacturer;
    std::string m_strModel;
    std::string m_strCharset;
    std::string m_strStorage;

    // Message slots.
    struct LastRead {
        int nReference = 0;
        std::string strPhone, strText, strTime;
        int nStorageStatus = 0;
        int nKind = 0;
    } m_lastRead;
    struct Received {
        int nReference = 0;
        int nKind = 0;
        std::string strPhone, strText, strTime;
    } m_received;
    struct StatusReport {
        int nReference = 0;
        int bDelivered = 0;
        std::string strPhone, strTime;
    } m_statusReport;

    // Submission settings.
    int m_nSendAttempts = 3;
    int m_nRetryInterval = 3;      // seconds
    int m_nCommandLimit = 20;      // seconds, prompt and PDU reply
    int m_nValidityMinutes = 10080;
    int m_bReportRequest = 1;
    int m_nEncodeCodePage = 0;

    // Indication handling, set by the engine when it connects the device.
    int m_bDeleteReadMessage = 1;
    int m_bDeleteReadReport = 1;

    CSmsPdu m_pdu;

private:
    // Holds m_bBusy for the lifetime of an operation, so every way out clears it.
    class BusyScope {
    public:
        explicit BusyScope(CMobile& mobile) : m_mobile(mobile) { m_mobile.m_bBusy = 1; }
        ~BusyScope() { m_mobile.m_bBusy = 0; }
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        CMobile& m_mobile;
    };

    std::string Ask(const std::string& command, const std::string& extra, int timeoutMs);
    std::string QueryIdentity(const char* first, const char* second);
    void ChooseIndicationRouting();
    int StoreCount(int offset);
    bool WaitForPacing(long long needMs);
    int PollStored(const std::string& text, size_t at, bool reports);
    int PollDirect(const std::string& text, size_t at, bool reports);
    int PollCalls(const std::string& text);
    int NoteCaller(const std::string& number);
    void Housekeeping(size_t receivedLength);

    std::unique_ptr<CConnection> m_pConnection;
    IClock& m_clock;

    // Submission pacing: the end of the last submission attempt.
    bool m_bSubmitted = false;
    long long m_nLastSubmitMs = 0;

    // Scan positions into the received text, and the last caller.
    int m_nMessagePos = 0;
    int m_nReportPos = 0;
    int m_nCallPos = 0;
    bool m_bCallSeen = false;
    long long m_nLastCallMs = 0;
    std::string m_strLastCaller;

    static inline int s_bWaiting = 0;  // a WaitNotBusy is waiting somewhere up the stack
};
