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

bool COutboxJournal::Contains(const std::string& msgId) const { return Find(msgId) != nullptr; }

const COutboxJournal::Entry* COutboxJournal::Find(const std::string& msgId) const {
    auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.msgId == msgId; });
    return it == m_entries.end() ? nullptr : &*it;
}

bool COutboxJournal::Move(Entry updated) {
    Entry* known = Slot(updated.msgId);
    if (known && updated.phone.empty()) updated.phone = known->phone;
    if (m_store && !m_store->PutJournal(updated)) return false;
    if (known)
        *known = updated;
    else
        m_entries.push_back(updated);
    return true;
}

bool COutboxJournal::MarkClaimed(const std::string& msgId) {
    return !Contains(msgId) && Move({msgId, State::Claimed});
}

bool COutboxJournal::MarkPrompting(const std::string& msgId, const std::string& phone) {
    const Entry* e = Slot(msgId);
    return (!e || e->state == State::Claimed) && Move({msgId, State::Prompting, 0, phone});
}

bool COutboxJournal::MarkSending(const std::string& msgId) {
    const Entry* e = Slot(msgId);
    return (!e || e->state == State::Claimed || e->state == State::Prompting) && Move({msgId, State::Sending});
}

bool COutboxJournal::Unclaim(const std::string& msgId) { return Move({msgId, State::Claimed}); }

bool COutboxJournal::SetResult(const std::string& msgId, int result, const std::string& reason,
                               const std::string& phone) {
    if (Move({msgId, State::Result, result, phone, reason})) return true;
    Entry* e = Slot(msgId);
    if (!e) e = &m_entries.emplace_back();
    *e = {msgId, State::Result, result, phone.empty() ? e->phone : phone, reason};
    return false;
}

bool COutboxJournal::Remove(const std::string& msgId, const WebhookEvent* event) {
    if (!Contains(msgId)) return true;
    std::erase_if(m_entries, [&](const Entry& e) { return e.msgId == msgId; });
    return !m_store || m_store->DropJournal(msgId, event);
}
