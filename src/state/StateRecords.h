#pragma once
// The records a gateway keeps in its state store between two runs.
#include <string>

// The outbound journal: an outbox row between "claimed" or "about to go to the modem"
// and "its result is stored in the database".
enum class JournalState {
    Claimed,    // claim_sql is about to run or ran: given back if never used
    Prompting,  // AT+CMGS written, the '>' prompt not yet seen: nothing reached the modem
    Sending,    // its PDU was written: it may have gone out
    Result,     // the modem answered; the result waits for the update statement
};

struct JournalEntry {
    std::string msgId;
    JournalState state = JournalState::Sending;
    int result = 0;
    std::string phone{};   // the number dialled, once known
    std::string reason{};  // why the result is what it is, with the result
};

// A message the modem delivered directly, waiting for its inbox row.
struct SpooledMessage {
    long long id = 0;        // the store's key, 0 before it was stored
    long long received = 0;  // Unix time the gateway took it from the modem
    std::string phone, text, time;
};

// A part of a concatenated message waiting for the rest of its message.
struct MessagePart {
    std::string phone;
    int reference = 0;  // concatenation reference (8 or 16 bit)
    int count = 0;      // parts of the message
    int number = 0;     // 1..count; 0 marks a message already stored
    std::string text;
    std::string time;         // the modem's time stamp, "YYMMDDhhmmss"
    long long arrivedMs = 0;  // wall clock of arrival, ms since the epoch

    bool SameMessage(const MessagePart& other) const {
        return phone == other.phone && reference == other.reference && count == other.count;
    }
};

// A submission that asked for a status report.
struct Submission {
    int reference = 0;  // TP-MR, 0..255
    std::string msgId;
    std::string phone;
    long long sentMs = 0;  // wall clock, ms since the epoch
};

// A status report that could not be applied yet (the database down), waiting in the store.
struct WaitingReport {
    long long id = 0;  // the store's key, 0 before it was stored
    int reference = 0;
    std::string phone;
    std::string discharge;  // "YYMMDDhhmmss"
    int status = 0;         // TP-ST
};

// A received message the gateway could not take, kept for the administrator: a PDU that
// does not decode, or a decoded message the inbox refused for its content.
struct RejectedPdu {
    std::string at;     // local time, "YYYY-MM-DD hh:mm:ss"
    std::string store;  // "direct", a store name, or "-"
    int index = 0;
    std::string pdu;    // as the modem gave it, "" for a decoded message
    std::string reason;
    std::string phone{}, text{};  // of a decoded message
};

// An event for the webhook receiver: its JSON body, sent until the receiver takes it.
// A retry sends the same body, so the receiver sees the same event_id again.
struct WebhookEvent {
    long long id = 0;  // the store's key, oldest first
    std::string eventId;
    std::string body;
    int attempts = 0;         // posts the receiver did not take
    long long nextTryMs = 0;  // wall clock, ms since the epoch
    long long createdMs = 0;
};
