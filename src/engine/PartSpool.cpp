#include "engine/PartSpool.h"

#include <algorithm>

namespace {

bool Before(const MessagePart& a, const MessagePart& b) { return a.number < b.number; }

}  // namespace

void CPartSpool::Attach(IStateStore* store) {
    m_store = store;
    m_parts = store ? store->LoadParts() : std::vector<MessagePart>{};
    m_unstored.clear();
}

bool CPartSpool::Add(const MessagePart& part) {
    const auto same = [&](const MessagePart& kept) { return kept.SameMessage(part) && kept.number == part.number; };
    const auto unstored = std::find_if(m_unstored.begin(), m_unstored.end(), same);
    for (const MessagePart& kept : m_parts) {
        if (!kept.SameMessage(part) || (kept.number != part.number && kept.number != 0)) continue;
        if (kept.number == 0 || unstored == m_unstored.end()) return true;
        // Kept in memory only so far: it leaves the modem once the store has it.
        if (m_store && !m_store->AddPart(*unstored)) return false;
        m_unstored.erase(unstored);
        return true;
    }
    m_parts.push_back(part);
    if (!m_store || m_store->AddPart(part)) return true;
    m_unstored.push_back(part);
    return false;
}

std::vector<std::vector<MessagePart>> CPartSpool::Ready(long long nowMs, long long timeoutMs) const {
    std::vector<std::vector<MessagePart>> ready;
    std::vector<bool> seen(m_parts.size(), false);
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        if (seen[i] || m_parts[i].number == 0) continue;
        std::vector<MessagePart> message;
        long long first = m_parts[i].arrivedMs;
        for (std::size_t k = i; k < m_parts.size(); ++k) {
            if (!m_parts[k].SameMessage(m_parts[i])) continue;
            seen[k] = true;
            message.push_back(m_parts[k]);
            first = std::min(first, m_parts[k].arrivedMs);
        }
        std::sort(message.begin(), message.end(), Before);
        if (static_cast<int>(message.size()) >= m_parts[i].count || nowMs - first >= timeoutMs)
            ready.push_back(std::move(message));
    }
    return ready;
}

bool CPartSpool::Remove(const MessagePart& part, long long nowMs, const WebhookEvent* event) {
    const MessagePart marker{part.phone, part.reference, part.count, 0, std::string(), std::string(), nowMs};
    std::erase_if(m_parts, [&](const MessagePart& kept) { return kept.SameMessage(part); });
    std::erase_if(m_unstored, [&](const MessagePart& kept) { return kept.SameMessage(part); });
    m_parts.push_back(marker);
    return !m_store || m_store->MarkStored(marker, event);
}

void CPartSpool::Prune(long long nowMs, long long keepMs) {
    const auto forget = [&](const MessagePart& kept) { return kept.number == 0 && nowMs - kept.arrivedMs >= keepMs; };
    if (std::erase_if(m_parts, forget) && m_store) m_store->ForgetStored(nowMs - keepMs + 1);
}

std::size_t CPartSpool::Size() const {
    return static_cast<std::size_t>(
        std::count_if(m_parts.begin(), m_parts.end(), [](const MessagePart& p) { return p.number > 0; }));
}

std::string JoinParts(const std::vector<MessagePart>& parts, std::string* missing) {
    std::string text, gaps;
    const int count = parts.empty() ? 0 : parts.front().count;
    std::size_t at = 0;
    for (int number = 1; number <= count; ++number) {
        if (at < parts.size() && parts[at].number == number) {
            text += parts[at++].text;
            continue;
        }
        text += "[...]";
        gaps += (gaps.empty() ? "" : ", ") + std::to_string(number);
    }
    if (missing) *missing = gaps;
    return text;
}
