#include "engine/WebhookEvents.h"

#include "engine/Gateway.h"
#include "engine/SqlTemplates.h"

#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <random>

namespace {

constexpr int kIdBytes = 16;

std::string Hex(const unsigned char* bytes, int count) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 0xF];
    }
    return hex;
}

// 128 bits: random, or the first half of the key's SHA-256.
std::string EventId(const std::string& key) {
    unsigned char bytes[EVP_MAX_MD_SIZE] = {};
    if (!key.empty()) {
        unsigned int size = 0;
        EVP_Digest(key.data(), key.size(), bytes, &size, EVP_sha256(), nullptr);
    } else if (RAND_bytes(bytes, kIdBytes) != 1) {
        std::random_device device;
        for (int i = 0; i < kIdBytes; ++i) bytes[i] = static_cast<unsigned char>(device());
    }
    return Hex(bytes, kIdBytes);
}

WebhookEvent MakeEvent(const char* kind, nlohmann::json fields, long long nowMs, const std::string& key) {
    WebhookEvent event;
    event.eventId = EventId(key.empty() ? key : kind + ('\x1F' + key));
    event.createdMs = nowMs;
    fields["event"] = kind;
    fields["event_id"] = event.eventId;
    // A text that is not UTF-8 (a data message) keeps its place, its bad bytes replaced.
    event.body = fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return event;
}

}  // namespace

WebhookEvent ReceivedEvent(const std::string& phone, const std::string& text, const std::string& time, long long nowMs) {
    return MakeEvent("sms:received", {{"phone", phone}, {"text", text}, {"time", FormatTimeValue(time)}}, nowMs,
                     phone + '\x1F' + time + '\x1F' + text);
}

WebhookEvent ResultEvent(const std::string& msgId, const std::string& phone, int result, const std::string& reason,
                         long long nowMs) {
    const char* kind = result == RESULT_SENT ? "sms:sent" : result == RESULT_UNKNOWN ? "sms:unknown" : "sms:failed";
    return MakeEvent(kind, {{"id", msgId}, {"phone", phone}, {"reason", reason}}, nowMs, {});
}

WebhookEvent DeliveredEvent(const std::string& msgId, int status, long long nowMs, const std::string& key) {
    return MakeEvent("sms:delivered", {{"id", msgId}, {"status", status}}, nowMs, key);
}
