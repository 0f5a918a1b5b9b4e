// Concatenated messages: parts wait in the part spool and go into the inbox as one row.
#include "engine/Gateway.h"

#include <algorithm>

namespace {

constexpr int kDuplicateKey = 99;
constexpr long long kMinuteMs = 60 * 1000;
constexpr long long kRetryMs = 30 * 1000;  // after a failed insert of a joined message

}  // namespace

int CGateway::StoreReceived(const ModemMessage& message) {
    const bool part = message.partCount > 1 && message.partNumber >= 1 && message.partNumber <= message.partCount;
    if (!m_settings.m_bMultipartJoin || !part)
        return QueueReceived(message, InsertReceived(message.phone, message.text, message.time));
    const MessagePart received{message.phone, message.partReference, message.partCount, message.partNumber,
                               message.text,  message.time,          m_clock.WallMs()};
    if (!m_parts.Add(received)) {
        ::Journal(JOURNAL_ERR, "cannot keep part %d of %d from %s in the state store: %s", message.partNumber,
                  message.partCount, message.phone.c_str(), StateError().c_str());
        return 0;
    }
    if (m_run.m_bDatabaseLinked == 1) InsertJoinedMessages();
    return 1;
}

// The message stays in the modem until its event is queued. Killed in between, the
// gateway reads it again after the restart, and its event carries the same event_id.
int CGateway::QueueReceived(const ModemMessage& message, int result) {
    if ((result != 1 && result != kDuplicateKey) || !Webhooks()) return result;
    if (m_state->QueueEvent(ReceivedEvent(message.phone, message.text, message.time, m_clock.WallMs())))
        return result;
    ::Journal(JOURNAL_ERR, "cannot queue the webhook event of a message from %s (%s): it stays in the modem",
              message.phone.c_str(), StateError().c_str());
    return -1;
}

void CGateway::InsertJoinedMessages() {
    const long long timeoutMs = static_cast<long long>(std::max(m_settings.m_nMultipartTimeout, 1)) * kMinuteMs;
    m_parts.Prune(m_clock.WallMs(), timeoutMs);
    if (m_parts.Size() == 0 || m_clock.NowMs() < m_nextJoinMs) return;
    for (const std::vector<MessagePart>& parts : m_parts.Ready(m_clock.WallMs(), timeoutMs)) {
        std::string missing;
        const std::string text = JoinParts(parts, &missing);
        const MessagePart& first = parts.front();
        const int result = InsertReceived(first.phone, text, first.time);
        if (result != 1 && result != kDuplicateKey && result != INSERT_REJECTED) {
            m_nextJoinMs = m_clock.NowMs() + kRetryMs;  // the parts wait in the spool
            continue;
        }
        if (!missing.empty())
            ::Journal(JOURNAL_WARNING, "message from %s (reference %d) stored without part(s) %s of %d after %d minutes",
                      first.phone.c_str(), first.reference, missing.c_str(), first.count,
                      m_settings.m_nMultipartTimeout);
        // As the spool: the parts leave the store with the event of their message.
        std::optional<WebhookEvent> event;
        if (result != INSERT_REJECTED && Webhooks())
            event = ReceivedEvent(first.phone, text, first.time, m_clock.WallMs());
        if (!m_parts.Remove(first, m_clock.WallMs(), event ? &*event : nullptr))
            ::Journal(JOURNAL_ERR, "cannot drop the stored message from %s from the state store: %s", first.phone.c_str(),
                      StateError().c_str());
    }
}
