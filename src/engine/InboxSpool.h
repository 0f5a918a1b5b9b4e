#pragma once
// Local files of the inbound cycle, beside the settings file:
// - the spool: messages the modem delivered directly (they exist nowhere else), kept
//   until the inbox row is committed; one line each, fields in hex;
// - the reject file: PDUs that do not decode, one line each, appended and never read back.
// Both are rewritten whole, durably (see WriteFileDurably).
#include <deque>
#include <string>

// Replaces the file at path with data so that it holds the old or the new content,
// whatever dies when: a temporary file beside it, fsync, rename, fsync of the folder.
// Mode 0600. Empty data removes the file. false when anything failed (the old
// content is then still in place).
bool WriteFileDurably(const std::string& path, const std::string& data);

struct SpooledMessage {
    long long received = 0;  // Unix time the gateway took it from the modem
    std::string phone, text, time;
};

class CInboxSpool {
public:
    // Loads what the file holds (messages left by an earlier run). Empty: memory only.
    void SetPath(std::string path);
    // false when the file could not be written; the message is kept in memory all the same.
    bool Add(const SpooledMessage& message);
    bool Remove(size_t position);
    const std::deque<SpooledMessage>& Entries() const { return m_entries; }
    bool Empty() const { return m_entries.empty(); }

private:
    bool Store() const;

    std::string m_path;
    std::deque<SpooledMessage> m_entries;
    std::string m_unreadable;  // lines of the file that do not parse, written back unchanged
};

// Appends one line to the reject file; false when it could not be written.
bool AppendRejected(const std::string& path, const std::string& line);
