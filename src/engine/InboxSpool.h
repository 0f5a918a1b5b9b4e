#pragma once
// Messages the modem delivered directly (they exist nowhere else), kept in the state
// store until their inbox row is committed.
#include "state/StateStore.h"

#include <deque>
#include <string>

class CInboxSpool {
public:
    // Loads what the store holds (messages left by an earlier run); nullptr: memory only.
    void Attach(IStateStore* store);
    // false when the store could not be written; the message is kept in memory all the same.
    bool Add(SpooledMessage message);
    // Drops the message, queuing `event` (when not nullptr) in the same transaction.
    bool Remove(size_t position, const WebhookEvent* event = nullptr);
    // Writes the messages kept only in memory to the store; true when none is left so.
    bool StoreKept();
    const std::deque<SpooledMessage>& Entries() const { return m_entries; }
    bool Empty() const { return m_entries.empty(); }

private:
    IStateStore* m_store = nullptr;
    std::deque<SpooledMessage> m_entries;
};
