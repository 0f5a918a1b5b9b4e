#pragma once
// Queues one message in the outbox through outbox_insert_sql: the command line's -send,
// and any other front end that takes messages from outside (an HTTP interface).
#include "config/Settings.h"
#include "engine/Ports.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

// The longest text an outbox row may carry: the UTF-8 bytes 64 concatenated segments can
// hold (153 septets each, a character of the GSM alphabet at most 2 bytes).
inline constexpr std::size_t MAX_OUTBOX_TEXT_BYTES = 64 * 153 * 2;
// Digits of a number, without its '+'.
inline constexpr std::size_t MIN_PHONE_DIGITS = 3, MAX_PHONE_DIGITS = 20;

// Why a recipient and a text cannot be queued, or nullopt: the number is an optional '+'
// and 3 to 20 digits; the text is valid UTF-8, not empty, without NUL, at most
// MAX_OUTBOX_TEXT_BYTES bytes, and fits in 64 concatenated parts.
std::optional<std::string> OutboxMessageProblem(const std::string& phone, const std::string& text);

struct OutboxInsertResult {
    enum Outcome { Queued, Invalid, DatabaseError };
    Outcome outcome = DatabaseError;
    // Queued: the first column of the row the statement returned or, when it returned none,
    // the id made for "<MSGID>" ("" when the template has no "<MSGID>" either).
    std::string id;
    std::string error;  // otherwise: why not, for the user
};

// Checks the message and runs outbox_insert_sql once on `db` (connected on demand) with
// "<PHONE>", "<MSGBODY>" and a fresh id for "<MSGID>" bound. Safe to call from any thread
// that may use `db`; nothing is retried, so a message is never queued twice.
OutboxInsertResult InsertOutboxMessage(const CSettings& settings, IDatabase& db, const std::string& phone,
                                       const std::string& text);
// The same through `executeOnce`, which runs the statement once as IDatabase::ExecuteOnce
// does (a connection other than the engine's).
using ExecuteOnceFunction = std::function<std::optional<std::string>(const SqlCommand&)>;
OutboxInsertResult InsertOutboxMessage(const CSettings& settings, const ExecuteOnceFunction& executeOnce,
                                       const std::string& phone, const std::string& text);

// A new random id: 32 lower-case hexadecimal digits.
std::string NewMessageId();
