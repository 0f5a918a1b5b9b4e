#pragma once
// The AT command side of the simulated modem: takes the bytes a client writes to the
// serial line and answers as a GSM modem in PDU mode does. No I/O of its own: echo,
// answers and unsolicited lines leave through ModemOutput, which the event loop turns
// into (possibly delayed or chunked) writes to the pseudo-terminal.
#include <cstdint>
#include <deque>
#include <optional>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "PduEncoder.h"
#include "Profile.h"

namespace modemsim {

class ModemOutput {
public:
    virtual ~ModemOutput() = default;
    virtual void Echo(const std::string& bytes) = 0;    // written at once
    virtual void Answer(const std::string& bytes) = 0;  // subject to the slow and chunk faults
};

struct StoredMessage {
    int stat = 0;     // 0 unread, 1 read, 2 stored unsent, 3 stored sent
    std::string pdu;  // service-centre address and TPDU, hex
    int length = 0;   // TPDU octets
};

struct Store {
    std::string name;
    int capacity = 0;
    std::map<int, StoredMessage> slots;  // index from `first`
    int first = 1;                       // number of the first place
    int FirstFree() const;               // -1 when full
    bool Holds(int index) const { return index >= first && index < first + capacity; }
    int Free() const { return capacity - static_cast<int>(slots.size()); }
};

struct Faults {
    int silent = 0;            // command lines still to leave unanswered
    int cmgsFailures = 0;      // submissions still to refuse
    std::string cmgsMode = "prompt";  // prompt, pdu, noref, noprompt, silent or late
    int cmgsLateMs = 0;        // delay of the answer to a submission in mode late
    int slowMs = 0;
    int chunkBytes = 0;
    int chunkGapMs = 20;
    std::string inject;        // line to put into the next answer
    int simBusy = 0;           // SIM commands still to answer "SIM busy"
    int simWaitMs = 0;         // after a PIN is accepted, SIM commands answer "SIM busy" this long
    std::string mute;          // command lines starting with this get no answer
};

struct Identity {
    std::string manufacturer, model, revision = "1.0", imei = "351234567890123",
                imsi = "262011234567890", smsc = "+491710760000", operatorName = "MODEMSIM NET";
    int smscType = 145;
    int bcs = 0, bcl = 85, rssi = 17, ber = 99;
    int creg = 1;    // registration stat of AT+CREG? once the SIM is ready (1 home, 2 searching, ...)
    int cereg = -1;  // of AT+CEREG?; below 0 the command is not supported
};

enum class Via { Auto, Store, Direct, Silent };

class Modem {
public:
    Modem(ModemOutput& out, const Profile& profile);

    // Bytes written by the client.
    void Input(std::string_view bytes);

    // Control operations.
    void SetProfile(const Profile& profile);
    const Profile& CurrentProfile() const { return m_profile; }
    // The SIM asks for this PIN (empty: none) and allows `tries` wrong ones before it
    // asks for the PUK instead; 0 tries: it asks for the PUK at once.
    void SetPin(const std::string& pin, int tries = PIN_TRIES);
    static constexpr int PIN_TRIES = 3;
    static constexpr const char* PUK = "12345678";
    Identity& Id() { return m_id; }
    Faults& Fault() { return m_faults; }
    // Puts PDUs into a store or hands them over directly, with the matching indications;
    // `lines` receives "STORED <mem> <index>" or "DIRECT" per PDU. False with `error` set
    // when the store lacks room (nothing is stored then) or the storage is unknown. `at` (0 or
    // more) puts the first PDU into that free place instead of the first free one.
    bool Deliver(const std::vector<EncodedPdu>& pdus, bool statusReport, Via via, const std::string& mem,
                 std::vector<std::string>& lines, std::string& error, int at = -1);
    void Unsolicited(const std::string& text);
    void Ring(const std::string& number);
    void HangUp() { m_callNumber.clear(); m_ringing = false; }
    std::vector<std::string> StateLines() const;
    // Empty `mem`: every store. False for an unknown storage name.
    bool ListLines(const std::string& mem, std::vector<std::string>& lines) const;
    bool Clear(const std::string& mem);
    const std::vector<std::string>& Records() const { return m_records; }
    void ClearRecords() { m_records.clear(); }
    // Called with every new record line (for a record file).
    void SetRecordSink(std::function<void(const std::string&)> sink) { m_sink = std::move(sink); }
    // Concatenation references for DELIVER requests that name none: 1, 2, 3, ...
    int NextReference() { return m_nextReference++ & 0xFFFF; }
    // The TP-MR the next accepted AT+CMGS answers (then counting on, 255 wrapping to 0).
    void SetNextMessageReference(int mr) { m_nextMr = mr & 0xFF; }
    // Direct deliveries under AT+CSMS=1: whether the modem offers service 1 at all, how long it
    // waits for AT+CNMA, and after how long the network delivers an unacknowledged message again.
    void SetPhase2Plus(bool offered) { m_phase2Plus = offered; }
    void SetAckWait(int ms) { m_ackWaitMs = ms; }
    void SetRetryWait(int ms) { m_retryWaitMs = ms; }
    // Runs what has come due (a missed acknowledgement, a network retry); returns the
    // milliseconds until the next such event, -1 when none is pending.
    int Pump();

private:
    enum class Final { Ok, Error, Cme, Cms, Prompt, Silent };
    struct Result {
        std::vector<std::string> lines;
        Final final = Final::Ok;
        int code = 0;
    };
    enum class Type { Exec, Set, Read, Test };
    struct Command {
        std::string name;  // upper case: "E", "&F", "+CMGS"
        Type type = Type::Exec;
        std::string raw;   // parameter text as sent
        std::vector<std::string> args;  // parameters, quotes removed
    };

    void CommandByte(char ch);
    void PduByte(char ch);
    void EndLine();
    void RunLine(const std::string& line);
    bool ParseChain(const std::string& body, std::vector<Command>& commands) const;
    Result Execute(const Command& c);
    Result Extended(const Command& c);
    Result Basic(const Command& c);
    Result Storage(const Command& c);
    Result Messages(const Command& c);
    Result Submit();
    Result Restart();
    void Reset();
    void SendAnswer(const std::vector<std::string>& lines, const Result& last);
    std::string FormatFinal(const Result& r) const;
    std::string FormatLine(const std::string& line) const;
    void Emit(const std::string& bytes);
    void FlushEcho();
    void Record(const std::string& json);
    void RecordUnsolicited(const std::string& text);
    Store* FindStore(const std::string& name);
    const Store* FindStore(const std::string& name) const;
    bool SimNeeded(const std::string& name) const;
    Result Pin(const Command& c);
    std::string EncodeText(const std::string& text) const;
    // Direct deliveries waiting for their turn (one is shown at a time while acknowledgements
    // are needed), the one shown and not yet acknowledged, and those the network retries later.
    struct DirectDelivery {
        EncodedPdu pdu;
        bool report = false;
        int64_t due = 0;  // the acknowledgement deadline, or the time of the retry
    };
    void ShowDirect(const EncodedPdu& pdu, bool report);
    void ShowNextDirect();
    void FailAck(const char* result, int64_t now);
    Result Acknowledge(const Command& c);
    bool DecodeText(const std::string& text, std::string& plain) const;

    ModemOutput& m_out;
    Profile m_profile;
    Identity m_id;
    Faults m_faults;
    std::vector<Store> m_stores;
    std::vector<std::string> m_records;
    std::function<void(const std::string&)> m_sink;
    int m_nextReference = 1;

    // Line state.
    std::string m_line;
    std::string m_echo;
    bool m_pduMode = false;
    std::string m_pdu;
    std::string m_pduCommand;
    int m_pduLength = 0;
    bool m_pduWrite = false;
    int m_pduStat = 2;
    int m_lateAnswerMs = 0;  // extra delay of the answer to the submission in hand

    // Settings.
    bool m_echoOn = true;
    bool m_verbose = true;
    bool m_quiet = false;
    int m_cmee = 0;
    int m_cmgf = 0;
    int m_clip = 0;
    int m_creg = 0;
    int m_cfun = 1;
    std::string m_cscs = "GSM";
    std::vector<int> m_cnmi = {0, 0, 0, 0, 0};
    std::string m_mem[3] = {"SM", "SM", "SM"};
    std::string m_pin;
    bool m_simReady = true;
    int m_pinTries = PIN_TRIES;  // 0: the SIM wants the PUK
    int64_t m_simBusyUntil = 0;  // NowMs() until which the SIM is still starting
    int m_nextMr = 0;
    int m_csms = 0;            // AT+CSMS service: 1 = direct deliveries need AT+CNMA
    bool m_phase2Plus = true;  // AT+CSMS=1 accepted
    int m_ackWaitMs = 5000;
    int m_retryWaitMs = 5000;
    std::deque<DirectDelivery> m_directQueue;
    std::optional<DirectDelivery> m_unacked;
    std::vector<DirectDelivery> m_retries;

    // Call state.
    std::string m_callNumber;
    bool m_ringing = false;
};

std::string JsonString(const std::string& text);
int64_t NowMs();

}  // namespace modemsim
