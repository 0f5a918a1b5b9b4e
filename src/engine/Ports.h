#pragma once
// What the engine needs of the modem driver and the database layer. The shell
// hands it adapters over `CMobile` and `CAdoDatabase`; tests hand it scripted fakes.
#include "db/SqlCommand.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// SendMessage: the modem restarted or went away before the message's first PDU was
// written (or the before-PDU hook said no); it may be sent again.
constexpr int SEND_NOT_HANDED = -3;

// A message as the driver holds it in its received or last-read slot.
struct ModemMessage {
    std::string phone;
    std::string text;
    std::string time;  // the modem's time stamp, "YYMMDDhhmmss"
    int kind = 0;      // SmsKind; above 5 carries no text (status report)
    int index = 0;        // place in the modem's store; 0 when delivered directly
    std::string store{};  // the store holding it ("" when delivered directly or not known)
    bool decoded = true;
    std::string pdu{};    // as the modem gave it (kept for one that does not decode)
    // Concatenation: the message's reference, its number of parts (0 when not a part)
    // and this part's number, 1-based.
    int partReference = 0, partCount = 0, partNumber = 0;
    bool inStore = false;  // read from a store: it stays there until deleted at `index` (0 or more)
};

// A status report as the driver decoded it last (POLL_STATUS_REPORT, or a stored one read).
struct ModemReport {
    int reference = 0;      // TP-MR of the submission it reports on
    std::string phone;      // the recipient
    std::string discharge;  // "YYMMDDhhmmss"
    int status = 0;         // TP-ST
    int index = 0;          // place in the store it was announced in; 0 when delivered directly
    std::string store{};
    bool inStore = false;   // still in the store at `index`, to be deleted once taken
};

// A message store as AT+CPMS? reports it.
struct StoreUse {
    std::string name;
    int used = 0;
    int total = 0;
};

// Everything the device link is prepared with before each connect.
struct DeviceLinkSettings {
    std::string pin;
    int mode = 1;        // 1 serial, 0 infrared
    int comNumber = 1;
    int baudRate = 9600;
    int statusReport = 0;      // ask the network for status reports
    int deleteStatusReports = 1;
};

class IModem {
public:
    virtual ~IModem() = default;
    virtual void Prepare(const DeviceLinkSettings& link) = 0;
    virtual int Connect() = 0;     // 1 when open and initialised
    virtual int Disconnect() = 0;  // 1 when closed
    virtual int SetServiceCentre(const std::string& number) = 0;
    virtual std::string SendCommand(const std::string& command, const std::string& expect, int timeoutMs) = 0;
    virtual std::string GetManufacturer() = 0;
    virtual std::string GetModel() = 0;
    virtual std::string GetImei() = 0;
    virtual int GetSignalQuality() = 0;
    virtual int GetBatteryLevel() = 0;
    // 0 or more when the modem accepted the message, -2 when it was handed over but no
    // answer came (it may have gone out), SEND_NOT_HANDED when nothing was handed over and
    // nothing refused it, any other negative value when it was not sent.
    virtual int SendMessage(const std::string& phone, const std::string& text, int kind) = 0;
    // Called once per message when the modem is ready for it, right before its first PDU
    // is written; false cancels the message (SEND_NOT_HANDED).
    virtual void SetBeforePdu(std::function<bool()> /*hook*/) {}
    // Whether a submission since the last call saw the modem restart or its port go.
    virtual bool TakeReset() { return false; }
    // Why the last SendMessage did not succeed ("+CMS ERROR: 500"); "" after a success.
    virtual std::string SubmitError() const { return {}; }
    // PDUs the message would be sent as; negative when it cannot be encoded. No I/O.
    virtual int CountSegments(const std::string& phone, const std::string& text, int kind) = 0;
    virtual int PollEvents() = 0;  // POLL_NEW_MESSAGE and POLL_UNDECODABLE fill Received()
    // Acknowledges the message or report the last poll took directly, once it is kept: a modem
    // that asks for acknowledgements has the network deliver again what it was not given.
    // 1 done (or nothing owed); 0 the modem had stopped waiting and turned routing off: it is
    // set again and the message comes back through a store; -1 not possible now.
    virtual int AcknowledgeDirect() { return 1; }
    // 0 when the modem had turned routing to the gateway off and it was set again (what came
    // meanwhile waits in its stores); 1 routing as set; -1 not known.
    virtual int CheckRouting() { return 1; }
    // While `hold`, new messages and reports wait in the modem's stores instead of coming
    // directly; 1 done or nothing to do.
    virtual int HoldDirectDelivery(bool /*hold*/) { return 1; }
    virtual ModemMessage Received() const = 0;
    virtual ModemReport Report() const { return {}; }
    // Whether the next submissions ask for a status report (on their last segment).
    virtual void SetReportRequest(int /*request*/) {}
    virtual int SetStorage(const std::string& store) = 0;  // 0 or more on success
    virtual int GetUsedCount() = 0;
    virtual int GetTotalCount() = 0;
    // The stores the modem reports with their counts (one AT+CPMS?); empty on failure.
    virtual std::vector<StoreUse> GetStoreUse() = 0;
    // The storages the modem offers for reading (AT+CPMS=?); empty when it named none.
    virtual std::vector<std::string> MessageStores() { return {}; }
    // The used indexes of the selected store in one listing: 1, or -1 when the modem does
    // not list them (the store is then read place by place).
    virtual int ListStored(std::vector<int>& indexes) {
        indexes.clear();
        return -1;
    }
    virtual int ReadStoredMessage(int index) = 0;  // above 0 fills LastRead()
    virtual ModemMessage LastRead() const = 0;
    virtual int DeleteMessage(int index) = 0;
    // Deletes from the named store, keeping the store selected for reading.
    virtual int DeleteStored(const std::string& store, int index) = 0;
    // The driver's pause between submissions (seconds) and attempts per PDU.
    virtual void SetRetry(int intervalSeconds, int attempts) = 0;
    virtual int RetryInterval() const = 0;
    // Why the last Connect found the SIM unusable (the driver's SIM_* state), 0 when it did not.
    virtual int SimState() const { return 0; }
    // The network registration stat (+CREG/+CEREG), -1 when the modem names none.
    virtual int GetRegistration() { return -1; }
    // The descriptor the modem's input arrives on, to wait for indications; -1: none.
    virtual int InputDescriptor() { return -1; }
};

// Errors arrive as CDbError (db/); ExecuteSql answers 1, 99 (duplicate key) or 0.
class IDatabase {
public:
    virtual ~IDatabase() = default;
    virtual void SetDataSource(const std::string& dsn) = 0;
    virtual void SetCredentials(const std::string& user, const std::string& password) = 0;
    virtual int OpenDatabase() = 0;
    virtual int CloseDatabase() = 0;
    virtual int ExecuteSql(const SqlCommand& command) = 0;
    // The rows the statement changed, -1 without a connection; a duplicate key throws.
    virtual long ExecuteChange(const SqlCommand& command) = 0;
    // Runs the statement once, never retried; the first column of the first row it returns,
    // nullopt when it returns none. Every failure throws.
    virtual std::optional<std::string> ExecuteOnce(const SqlCommand& command) = 0;
    virtual int OpenQuery(const std::string& sql) = 0;
    virtual void CloseQuery() = 0;  // releases the cursor (and any lock it holds)
    virtual int IsEof() = 0;
    virtual int MoveNext() = 0;
    virtual std::string GetFieldString(const std::string& column) = 0;
    virtual int GetFieldInt(const std::string& column) = 0;
};
