#pragma once
// Results of sent outbox rows that are not yet written back to the database.
// A row's result is journalled as soon as the modem has taken the message and
// dropped once the update statement has stored it; a journalled row is never
// sent again. The file holds one "result msgid" line per row and is replaced
// atomically (temporary file + rename) on every change.
#include <string>
#include <utility>
#include <vector>

class COutboxJournal {
public:
    using Entry = std::pair<std::string, int>;  // message id, result (1 / -1)

    explicit COutboxJournal(std::string path = {});
    void SetPath(std::string path);

    // false when the file could not be written (the entry is still kept in memory)
    // or the id holds a line end.
    bool Add(const std::string& msgId, int result);
    bool Remove(const std::string& msgId);
    bool Contains(const std::string& msgId) const;
    const std::vector<Entry>& Entries() const { return m_entries; }
    bool Empty() const { return m_entries.empty(); }

private:
    void Load();
    bool Store() const;

    std::string m_path;
    std::vector<Entry> m_entries;
};
