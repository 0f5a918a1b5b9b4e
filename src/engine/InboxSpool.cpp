#include "engine/InboxSpool.h"

void CInboxSpool::Attach(IStateStore* store) {
    m_store = store;
    m_entries.clear();
    if (store)
        for (SpooledMessage& m : store->LoadSpool()) m_entries.push_back(std::move(m));
}

bool CInboxSpool::Add(SpooledMessage message) {
    message.id = 0;
    const bool stored = !m_store || m_store->AddSpooled(message);
    m_entries.push_back(std::move(message));
    return stored;
}

bool CInboxSpool::Remove(size_t position, const WebhookEvent* event) {
    if (position >= m_entries.size()) return true;
    const long long id = m_entries[position].id;
    m_entries.erase(m_entries.begin() + static_cast<long>(position));
    if (!m_store) return true;
    // One kept only in memory (the store refused it) has nothing to drop.
    if (id == 0) return !event || m_store->QueueEvent(*event);
    return m_store->DropSpooled(id, event);
}

bool CInboxSpool::StoreKept() {
    for (SpooledMessage& m : m_entries)
        if (m_store && m.id == 0 && !m_store->AddSpooled(m)) return false;
    return true;
}
