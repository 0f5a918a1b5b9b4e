#pragma once
// The write-ahead journal of the outbound cycle: every outbox row between "about to go
// to the modem" and "its result is stored in the database", kept in the state store.
// A row is "prompting" from AT+CMGS until the modem's '>' prompt, "sending" from the
// moment its PDU is written, gets its "result" when the modem has answered, and is
// dropped once the update statement has stored that result. A journalled row is never
// sent again. At start-up a row still "sending" died with the process between its PDU
// and the answer, so its outcome is unknown; a row "prompting" never reached the modem.
// Where several gateways share the outbox, a row is marked "claimed" before the claim
// statement runs, so that a claim the gateway never used is given back after a crash.
#include "state/StateStore.h"

#include <string>
#include <vector>

class COutboxJournal {
public:
    using State = JournalState;
    using Entry = JournalEntry;

    // Reads the store's journal; nullptr keeps the journal in memory only.
    void Attach(IStateStore* store);

    // Each returns false when the store could not be written; the journal is then left
    // as it was, except that SetResult and Remove keep their change in memory. The marks
    // refuse a row that is on its way already: claimed leads to prompting, prompting to
    // sending, and nothing leads back.
    bool MarkClaimed(const std::string& msgId);
    // `phone`: the number dialled, kept with the entry from here on.
    bool MarkPrompting(const std::string& msgId, const std::string& phone = {});
    bool MarkSending(const std::string& msgId);
    bool SetResult(const std::string& msgId, int result, const std::string& reason = {},
                   const std::string& phone = {});
    // A row that was prompting or sending and still is not: back to claimed.
    bool Unclaim(const std::string& msgId);
    // Drops the entry, queuing `event` (when not nullptr) in the same transaction.
    bool Remove(const std::string& msgId, const WebhookEvent* event = nullptr);

    bool Contains(const std::string& msgId) const;
    const Entry* Find(const std::string& msgId) const;
    const std::vector<Entry>& Entries() const { return m_entries; }
    bool Empty() const { return m_entries.empty(); }
    std::string LastError() const { return m_store ? m_store->LastError() : std::string(); }

private:
    // Moves the row to the state of `updated` (adding it when new), keeping the number
    // it had; reverted when the store refuses.
    bool Move(Entry updated);
    Entry* Slot(const std::string& msgId);

    IStateStore* m_store = nullptr;
    std::vector<Entry> m_entries;
};
