#pragma once
// Parts of concatenated messages that wait for the rest of their message. Each part is
// in the state store before it may leave the modem, and dropped once the joined row is
// in the inbox, so nothing waiting is lost across a restart.
#include "state/StateStore.h"

#include <string>
#include <vector>

class CPartSpool {
public:
    // nullptr: memory only. Loads the parts the store holds.
    void Attach(IStateStore* store);

    // Keeps the part; a part already kept, or one of a message stored lately, is ignored.
    // False when the store could not be written: the part is kept in memory, but must stay
    // in the modem until a later Add of it reaches the store.
    bool Add(const MessagePart& part);
    // Messages whose parts are all there, or whose earliest part arrived `timeoutMs` or
    // more before `nowMs`: each as its parts in number order.
    std::vector<std::vector<MessagePart>> Ready(long long nowMs, long long timeoutMs) const;
    // Drops every part of the message `part` belongs to, stored at `nowMs`, and remembers
    // the message until Prune forgets it, so a late repeat of one of its parts is not taken
    // for a new message; `event` (when not nullptr) is queued in the same transaction.
    // False when the store could not be written (the parts are dropped
    // from memory all the same: a restart before then would join the message once more).
    bool Remove(const MessagePart& part, long long nowMs, const WebhookEvent* event = nullptr);
    // Forgets stored messages remembered `keepMs` or longer.
    void Prune(long long nowMs, long long keepMs);
    // The parts waiting.
    std::size_t Size() const;

private:
    IStateStore* m_store = nullptr;
    std::vector<MessagePart> m_parts;
    std::vector<MessagePart> m_unstored;  // parts of m_parts the store does not hold yet
};

// The text of a message from its parts in number order: each missing part is "[...]".
// `missing` receives the missing numbers, comma-separated ("2, 4").
std::string JoinParts(const std::vector<MessagePart>& parts, std::string* missing = nullptr);
