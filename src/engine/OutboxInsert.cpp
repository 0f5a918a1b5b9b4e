#include "engine/OutboxInsert.h"

#include "db/DbError.h"
#include "engine/SqlTemplates.h"
#include "pdu/PduText.h"
#include "pdu/SmsPdu.h"

#include <cstdint>
#include <random>
#include <sys/random.h>

namespace {

bool ValidUtf8(const std::string& text) { return pdutext::EncodeUtf8(pdutext::DecodeUtf8(text)) == text; }

// Whether the text fits in the longest message the gateway sends (64 concatenated parts).
bool FitsOneMessage(const std::string& phone, const std::string& text) {
    CSmsPdu record;
    record.m_strPhone = phone;
    record.m_strText = text;
    record.m_nKind = KIND_LONG;
    return record.EncodeLong() == PDU_OK;
}

}  // namespace

std::optional<std::string> OutboxMessageProblem(const std::string& phone, const std::string& text) {
    const std::size_t digits = phone.size() - (phone.empty() || phone[0] != '+' ? 0 : 1);
    if (digits == 0 || phone.find_first_not_of("0123456789", phone.size() - digits) != std::string::npos)
        return "the number '" + phone.substr(0, 40) + "' is not an optional '+' followed by digits";
    if (digits < MIN_PHONE_DIGITS || digits > MAX_PHONE_DIGITS)
        return "the number has " + std::to_string(digits) + " digits; " + std::to_string(MIN_PHONE_DIGITS) + " to " +
               std::to_string(MAX_PHONE_DIGITS) + " are allowed";
    if (text.empty()) return std::string("the text is empty");
    if (text.size() > MAX_OUTBOX_TEXT_BYTES)
        return "the text has " + std::to_string(text.size()) + " bytes; at most " +
               std::to_string(MAX_OUTBOX_TEXT_BYTES) + " fit in one message";
    if (text.find('\0') != std::string::npos) return std::string("the text holds a NUL character");
    if (!ValidUtf8(text)) return std::string("the text is not valid UTF-8");
    if (!FitsOneMessage(phone, text)) return "the text needs more than " + std::to_string(PDU_MAX_SEGMENTS) + " parts";
    return std::nullopt;
}

std::string NewMessageId() {
    std::uint64_t words[2] = {};
    if (::getrandom(words, sizeof words, 0) != static_cast<ssize_t>(sizeof words)) {
        std::random_device device;
        for (auto& word : words) word = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }
    static const char kHex[] = "0123456789abcdef";
    std::string id;
    for (std::uint64_t word : words)
        for (int shift = 60; shift >= 0; shift -= 4) id += kHex[(word >> shift) & 0xF];
    return id;
}

OutboxInsertResult InsertOutboxMessage(const CSettings& settings, IDatabase& db, const std::string& phone,
                                       const std::string& text) {
    return InsertOutboxMessage(
        settings, [&db](const SqlCommand& command) { return db.ExecuteOnce(command); }, phone, text);
}

OutboxInsertResult InsertOutboxMessage(const CSettings& settings, const ExecuteOnceFunction& executeOnce,
                                       const std::string& phone, const std::string& text) {
    OutboxInsertResult result;
    if (auto problem = OutboxMessageProblem(phone, text)) {
        result.outcome = OutboxInsertResult::Invalid;
        result.error = *problem;
        return result;
    }
    const std::string& sqlTemplate = settings.m_strOutboxInsertSql;
    if (sqlTemplate.empty()) {
        result.error = "outbox_insert_sql is empty";
        return result;
    }
    const std::string madeId = NewMessageId();
    try {
        const std::optional<std::string> returned =
            executeOnce(BuildOutboxInsertSql(sqlTemplate, phone, text, madeId));
        result.outcome = OutboxInsertResult::Queued;
        if (returned)
            result.id = *returned;
        else if (sqlTemplate.find("<MSGID>") != std::string::npos)
            result.id = madeId;
    } catch (const CDbError& e) {
        result.error = std::string("outbox_insert_sql failed: ") + e.what();
    }
    return result;
}
