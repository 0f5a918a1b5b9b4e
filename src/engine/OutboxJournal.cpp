#include "engine/OutboxJournal.h"

#include <algorithm>

void COutboxJournal::Attach(IStateStore* store) {
    m_store = store;
    m_entries = store ? store->LoadJournal() : std::vector<Entry>{};
}

COutboxJournal::Entry* COutboxJournal::Slot(const std::string& msgId) {
    auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.msgId == msgId; });
    return it == m_entries.end() ? nullptr : &*it;
}

bool COutboxJournal::Contains(const std::string& msgId) const {
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.msgId == msgId; });
}

bool COutboxJournal::Move(const std::string& msgId, State state, int result) {
    const Entry updated{msgId, state, result};
    if (m_store && !m_store->PutJournal(updated)) return false;
    if (Entry* known = Slot(msgId))
        *known = updated;
    else
        m_entries.push_back(updated);
    return true;
}

bool COutboxJournal::MarkClaimed(const std::string& msgId) {
    return !Contains(msgId) && Move(msgId, State::Claimed);
}

bool COutboxJournal::MarkPrompting(const std::string& msgId) {
    const Entry* e = Slot(msgId);
    return (!e || e->state == State::Claimed) && Move(msgId, State::Prompting);
}

bool COutboxJournal::MarkSending(const std::string& msgId) {
    const Entry* e = Slot(msgId);
    return (!e || e->state == State::Claimed || e->state == State::Prompting) && Move(msgId, State::Sending);
}

bool COutboxJournal::Unclaim(const std::string& msgId) { return Move(msgId, State::Claimed); }

bool COutboxJournal::SetResult(const std::string& msgId, int result) {
    if (Move(msgId, State::Result, result)) return true;
    if (Entry* e = Slot(msgId))
        *e = {msgId, State::Result, result};
    else
        m_entries.push_back({msgId, State::Result, result});
    return false;
}

bool COutboxJournal::Remove(const std::string& msgId) {
    if (!Contains(msgId)) return true;
    std::erase_if(m_entries, [&](const Entry& e) { return e.msgId == msgId; });
    return !m_store || m_store->DropJournal(msgId);
}
