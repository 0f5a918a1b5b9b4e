#include "engine/PartSpool.h"

#include "engine/InboxSpool.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace {

bool Before(const MessagePart& a, const MessagePart& b) { return a.number < b.number; }

}  // namespace

std::string FieldHex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    if (bytes.empty()) return "-";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 0xF];
    }
    return hex;
}

bool FieldFromHex(const std::string& hex, std::string& bytes) {
    bytes.clear();
    if (hex == "-") return true;
    if (hex.empty() || hex.size() % 2) return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const std::string pair = hex.substr(i, 2);
        if (pair.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) return false;
        bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return true;
}

void CPartSpool::SetPath(std::string path) {
    m_path = std::move(path);
    m_parts.clear();
    if (m_path.empty()) return;
    std::ifstream in(m_path);
    std::string line;
    while (std::getline(in, line)) {
        // "<ref> <count> <number> <arrived ms> <time hex> <phone hex> <text hex>"
        std::istringstream fields(line);
        MessagePart part;
        std::string time, phone, text;
        fields >> part.reference >> part.count >> part.number >> part.arrivedMs >> time >> phone >> text;
        if (fields.fail() || !FieldFromHex(time, part.time) || !FieldFromHex(phone, part.phone) || !FieldFromHex(text, part.text) ||
            part.number < 0 || part.number > part.count)
            continue;
        m_parts.push_back(part);
    }
}

bool CPartSpool::Store() {
    if (m_path.empty()) return true;
    std::string data;
    for (const MessagePart& p : m_parts) {
        data += std::to_string(p.reference) + " " + std::to_string(p.count) + " " + std::to_string(p.number) + " " +
                std::to_string(p.arrivedMs) + " " + FieldHex(p.time) + " " + FieldHex(p.phone) + " " + FieldHex(p.text) + "\n";
    }
    m_bUnwritten = !WriteFileDurably(m_path, data);
    return !m_bUnwritten;
}

bool CPartSpool::Add(const MessagePart& part) {
    for (const MessagePart& kept : m_parts)
        if (kept.SameMessage(part) && (kept.number == part.number || kept.number == 0)) return !m_bUnwritten || Store();
    m_parts.push_back(part);
    return Store();
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

bool CPartSpool::Remove(const MessagePart& part, long long nowMs) {
    const auto end = std::remove_if(m_parts.begin(), m_parts.end(),
                                    [&](const MessagePart& kept) { return kept.SameMessage(part); });
    m_parts.erase(end, m_parts.end());
    m_parts.push_back({part.phone, part.reference, part.count, 0, std::string(), std::string(), nowMs});
    return Store();
}

void CPartSpool::Prune(long long nowMs, long long keepMs) {
    const auto end = std::remove_if(m_parts.begin(), m_parts.end(), [&](const MessagePart& kept) {
        return kept.number == 0 && nowMs - kept.arrivedMs >= keepMs;
    });
    if (end == m_parts.end()) return;
    m_parts.erase(end, m_parts.end());
    Store();
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
