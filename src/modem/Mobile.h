#pragma once
// CMobile: the GSM modem driver. One object per process, used from the worker thread; it
// talks to the device only through its CConnection, one AT command and one reply at a time.
// Every public operation runs under the busy flag, so an operation entered while another
// one waits (from a message dispatched during a wait) is turned away instead of interleaving.
#include "link/Clock.h"
#include "link/Connection.h"
#include "modem/ReplyParser.h"
#include "pdu/SmsPdu.h"

#include <functional>
#include <memory>
#include <utility>
#include <string>
#include <vector>

// Results of CMobile::PollEvents besides 0 (link unusable), -1 (busy) and 1 (nothing).
constexpr int POLL_NEW_MESSAGE = 9001;
constexpr int POLL_STATUS_REPORT = 9002;
constexpr int POLL_INCOMING_CALL = 9003;
// A message whose PDU does not decode: the received-message slot holds the PDU, its store and index.
constexpr int POLL_UNDECODABLE = 9004;
// CMobile::ReadMessage: the place holds a PDU that does not decode (the record keeps it in m_strPduIn).
constexpr int READ_UNDECODABLE = 2;
// CMobile::ReadMessage: the place holds no message (length 0 and no PDU).
constexpr int READ_EMPTY = 3;

// SIM states found by CMobile::Connect (m_nSimState).
constexpr int SIM_READY = 0;
constexpr int SIM_PIN_MISSING = 1;   // the SIM asks for a PIN and none is configured
constexpr int SIM_PIN_REFUSED = 2;   // the configured PIN was refused, now or on an earlier connect
constexpr int SIM_PUK_REQUIRED = 3;
constexpr int SIM_NOT_READY = 4;     // missing, locked otherwise, or still busy when the wait ran out

// Whether a +CREG / +CEREG registration stat lets the modem send: home or roaming network,
// also when registered for SMS only.
bool IsRegisteredStat(int stat);

// Submission modes of CMobile::SubmitPdus: send with AT+CMGS; anything else stores with AT+CMGW.
constexpr int SUBMIT_SEND = 9102;
// Result of CMobile::SendMessage / SubmitPdus when a PDU was handed over (Ctrl-Z written)
// but no final result came back: the message may have gone out, so it is not sent again.
constexpr int SUBMIT_UNKNOWN = -2;
// Result when nothing was handed over and nothing refused the message: the modem reset or
// went away before its first PDU was written, or the before-PDU hook said no. It may be
// sent again later.
constexpr int SUBMIT_NOT_HANDED = -3;

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
    // The commands to try, in order, until the modem accepts one: the chosen command first,
    // then the combinations the reply allows that announce stored messages.
    static std::vector<std::string> CnmiCandidates(const std::string& testReply);
    // The network registration stat (+CREG, else +CEREG when that one is registered), -1 when
    // the modem names none.
    int GetRegistration();

    // --- Battery, signal, service centre -------------------------------------------------
    int GetBatteryLevel();    // 0..100 %, 101 external power, 102 no battery, -1 failure
    int GetSignalQuality();   // rssi 0..99 as reported, -1 failure
    int SetServiceCentre(const std::string& number);
    std::string EncodeForCharset(const std::string& text);

    // --- Message store -------------------------------------------------------------------
    int GetUsedCount();
    int GetTotalCount();
    // Into the record: 1, READ_UNDECODABLE, READ_EMPTY or -1 (no answer that could be read).
    // Any index of 0 or more; no guard (callers hold it).
    int ReadMessage(int index);
    int ReadStoredMessage(int index);  // into the last-read slot
    // The used indexes of the current read storage from one "AT+CMGL=4": 1 with `indexes`
    // filled, -1 when the modem does not list (it is then not asked again until the next
    // connect) or the driver is busy.
    int ListStoredIndexes(std::vector<int>& indexes);
    // The storages "AT+CPMS=?" offers for reading (m_storeNames); internal step, no guard.
    int QueryStoreNames();
    // The stores AT+CPMS? names (read, write, receive) with their used and total counts;
    // empty when the query fails.
    struct StoreUse {
        std::string strName;
        int nUsed = 0, nTotal = 0;
    };
    std::vector<StoreUse> GetStoreUse();
    int DeleteMessage(int index);
    // Deletes from the named storage, selecting it for the delete and the previous one again after.
    int DeleteStoredMessage(const std::string& storage, int index);

    // --- Submission ----------------------------------------------------------------------
    // The modem's reference (0 or more), -1 not sent, SUBMIT_UNKNOWN outcome unknown.
    int SendMessage(const std::string& phone, const std::string& text, int kind);
    // Called once per message when the modem's prompt came, right before its first PDU is
    // written; false cancels the message (ESC) with SUBMIT_NOT_HANDED.
    std::function<bool()> m_beforePdu;
    // Set when a submission saw the modem reset or the port go; cleared by the reader.
    bool TakeReset() { return std::exchange(m_bResetSeen, false); }
    // Why the last SendMessage did not succeed, as the modem said it ("+CMS ERROR: 500"),
    // or what went wrong; "" after a success.
    const std::string& SubmitError() const { return m_strSubmitError; }
    int SubmitPdus(int mode);
    // PDUs the message would be sent as, or a negative codec result; no I/O, no guard.
    int CountSegments(const std::string& phone, const std::string& text, int kind) const;
    void SetSendAttempts(int attempts) { m_nSendAttempts = attempts; }
    void SetRetryInterval(int seconds) { m_nRetryInterval = seconds; }

    // --- Unsolicited indications ---------------------------------------------------------
    int PollEvents();
    // Acknowledges (AT+CNMA) the direct message or status report the last poll took, when the
    // modem waits for that (AT+CSMS=1): call it once the message is kept safely, since the
    // network delivers again what is not acknowledged. 1 acknowledged or nothing to
    // acknowledge; 0 the modem had stopped waiting and turned routing off: routing is set
    // again and the message comes back later, so its stores should be scanned; -1 busy or
    // link down (the acknowledgement is still owed).
    int AcknowledgeDirect();
    // Whether direct routing is still as the initialisation set it; a modem turns it off after
    // an acknowledgement it did not get. 1 as set; 0 it was off and is set again (what came
    // meanwhile waits in the stores); -1 not known now. Always 1 without acknowledgements.
    int CheckRouting();
    // While `hold`, new messages and reports are stored and announced (+CMTI, +CDSI) instead
    // of delivered directly, for a gateway that cannot keep a direct one safely; the routing
    // the initialisation chose comes back with hold false. 1 done or nothing to do, -1 not now.
    int HoldDirectDelivery(bool hold);

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
    // A PIN the SIM refused: never presented again while m_strPin still holds it, so that
    // reconnects cannot use up the SIM's tries.
    std::string m_strRefusedPin;
    int m_nSimState = SIM_READY;  // why the last Connect found the SIM unusable

    // What the initialisation found.
    std::string m_strManufacturer;
    std::string m_strModel;
    std::string m_strCharset;
    std::string m_strStorage;
    std::vector<std::string> m_storeNames;  // readable storages; empty when the modem named none
    int m_nListing = 0;  // "AT+CMGL=4": 0 not tried since the connect, 1 answered, -1 refused
    // AT+CSMS=1 accepted: direct messages and reports are acknowledged with AT+CNMA.
    int m_bAckDirect = 0;
    std::string m_strCnmi;  // the AT+CNMI command the modem accepted (with its CR), empty if none
    bool m_bDirectHeld = false;  // routing to the stores instead (HoldDirectDelivery)

    // Message slots.
    struct LastRead {
        int nReference = 0;
        std::string strPhone, strText, strTime;
        int nStorageStatus = 0;
        int nKind = 0;
        int bDecoded = 1;
        std::string strPdu;  // as read
    } m_lastRead;
    struct Received {
        int nReference = 0;  // the store index, 0 for a message delivered directly
        int nKind = 0;
        std::string strPhone, strText, strTime;
        std::string strStorage;  // the store holding it, empty for a direct one
        std::string strPdu;
        int bDecoded = 1;  // 0 after POLL_UNDECODABLE
        int bInStore = 0;  // read from a store after "+CMTI:" (its index may be 0)
    } m_received;
    struct StatusReport {
        int nReference = 0;
        int bDelivered = 0;
        std::string strPhone, strTime;
        int nIndex = 0;          // place in the store of a "+CDSI:"; 0 for a direct "+CDS:"
        std::string strStorage{};
        int bInStore = 0;        // still in the store at nIndex (not direct, not deleted yet)
    } m_statusReport;

    // Submission settings.
    int m_nSendAttempts = 3;
    int m_nRetryInterval = 3;      // seconds
    int m_nCommandLimit = 20;      // seconds, prompt
    int m_nAnswerLimit = 90;       // seconds, final result after a PDU was handed over
    int m_nValidityMinutes = 10080;
    int m_bReportRequest = 1;
    int m_nEncodeCodePage = 0;

    // Indication handling, set by the engine when it connects the device. A message read after
    // "+CMTI:" is never deleted here: the engine deletes it once the inbox holds it.
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
    // Asks for AT+CSMS=1; sets m_bAckDirect.
    void ChooseMessageService();
    bool SendAcknowledgement();
    // The received text starts afresh with every (re)opened link, so do the scan positions.
    void RestartScan();
    // Asks AT+CPIN? and presents the PIN only when the SIM asks for it; a SIM_* state.
    int UnlockSim();
    // Waits, bounded and stoppable, until AT+CPMS? succeeds; false when the SIM stayed busy.
    bool WaitForSim();
    // An exchange that is repeated once the SIM is ready when it answered "SIM busy".
    std::string AskSim(const std::string& command, const std::string& extra, int timeoutMs);
    std::string StorageFrom(const std::string& reply);  // the read storage of an AT+CPMS? reply
    int StoreCount(int offset);
    bool WaitForPacing(long long needMs);
    // The first line at or after `from` that starts with one of the two prefixes, or npos.
    static size_t FindIndication(const std::string& text, int from, const char* direct, const char* stored);
    // A PDU line of whole hex octets holding at least `length` octets after its service-centre part.
    static bool HoldsLength(const std::string& pdu, int length);
    int Encode(CSmsPdu& record, const std::string& phone, const std::string& text, int kind) const;
    void LeavePduInput();
    int PollStored(const std::string& text, size_t at, bool reports);
    int PollDirect(const std::string& text, size_t at, bool reports);
    int PollCalls(const std::string& text);
    int NoteCaller(const std::string& number);
    void Housekeeping(const std::string& received);

    std::unique_ptr<CConnection> m_pConnection;
    IClock& m_clock;

    // Submission pacing: the end of the last submission attempt.
    bool m_bSubmitted = false;
    bool m_bResetSeen = false;
    long long m_nLastSubmitMs = 0;
    std::string m_strSubmitError;

    // Scan positions into the received text, and the last caller.
    int m_nMessagePos = 0;
    int m_nReportPos = 0;
    int m_nCallPos = 0;
    bool m_bCallSeen = false;
    bool m_bAckPending = false;  // a direct delivery was taken and not yet acknowledged
    long long m_nLastCallMs = 0;
    std::string m_strLastCaller;

    static inline int s_bWaiting = 0;  // a WaitNotBusy is waiting somewhere up the stack
};
