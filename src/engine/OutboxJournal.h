#pragma once
// The write-ahead journal of the outbound cycle: every outbox row between "about to go
// to the modem" and "its result is stored in the database". A row is marked "sending"
// before its first PDU is written, gets its "result" when the modem has answered, and
// is dropped once the update statement has stored that result. A journalled row is
// never sent again; a row still marked "sending" at start-up died with the process
// between Ctrl-Z and the answer, so its outcome is unknown. Where several gateways share
// the outbox, a row is marked "claimed" before the claim statement runs, so that a claim
// the gateway never used is given back after a crash.
//
// The file is text, one row per line: "claimed <msgid>", "sending <msgid>" or
// "result <n> <msgid>"; the id
// is the rest of the line with '\' and control characters written as \xHH. It is
// replaced atomically (temporary file, fsync, rename, fsync of the folder), mode 0600;
// only a removal skips the two fsyncs.
#include <string>
#include <vector>

class COutboxJournal {
public:
    enum class State { Claimed, Sending, Result };
    struct Entry {
        std::string msgId;
        State state = State::Sending;
        int result = 0;
    };

    explicit COutboxJournal(std::string path = {});
    // Reads the file at path (a missing file is an empty journal).
    void SetPath(std::string path);

    // Each returns false when the file could not be written. MarkClaimed and MarkSending
    // then leave the journal as it was; SetResult and Remove keep their change in memory.
    // Both marks also refuse a row the journal holds already, except that a claimed row
    // may be marked sending.
    bool MarkClaimed(const std::string& msgId);
    bool MarkSending(const std::string& msgId);
    bool SetResult(const std::string& msgId, int result);
    bool Remove(const std::string& msgId);

    bool Contains(const std::string& msgId) const;
    const std::vector<Entry>& Entries() const { return m_entries; }
    bool Empty() const { return m_entries.empty(); }

private:
    void Load();
    bool Store(bool durable = true) const;
    Entry* Find(const std::string& msgId);

    std::string m_path;
    std::vector<Entry> m_entries;
};
