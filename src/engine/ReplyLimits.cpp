#include "engine/ReplyLimits.h"

namespace {

constexpr long long kHourMs = 60LL * 60 * 1000;
constexpr long long kDayMs = 24 * kHourMs;

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    std::string out = text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (!out.empty() && out.front() == '+') out.erase(0, 1);
    return out;
}

}  // namespace

bool ReplyNumberListed(const std::string& list, const std::string& sender) {
    if (list.find_first_not_of(' ') == std::string::npos) return true;
    const std::string number = Trimmed(sender);
    if (number.empty()) return false;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string entry = Trimmed(list.substr(start, end - start));
        if (!entry.empty() && entry.back() == '*') {
            entry.pop_back();
            if (number.compare(0, entry.size(), entry) == 0) return true;
        } else if (!entry.empty() && entry == number) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

void CReplyLimiter::Forget(long long nowMs) {
    while (!m_all.empty() && nowMs - m_all.front() >= kDayMs) m_all.pop_front();
    for (auto it = m_bySender.begin(); it != m_bySender.end();) {
        auto& times = it->second;
        while (!times.empty() && nowMs - times.front() >= kHourMs) times.pop_front();
        it = times.empty() ? m_bySender.erase(it) : std::next(it);
    }
    for (auto it = m_refused.begin(); it != m_refused.end();)
        it = nowMs - it->second >= kHourMs ? m_refused.erase(it) : std::next(it);
}

CReplyLimiter::Verdict CReplyLimiter::Take(const std::string& sender, const std::string& list, int perHour,
                                           long long nowMs) {
    if (perHour <= 0) return Verdict::Off;
    if (!ReplyNumberListed(list, sender)) return Verdict::NotListed;
    Forget(nowMs);
    auto& times = m_bySender[sender];
    if (static_cast<long long>(times.size()) >= perHour) return Verdict::SenderLimit;
    if (m_all.size() >= DAILY_LIMIT) return Verdict::DailyLimit;
    times.push_back(nowMs);
    m_all.push_back(nowMs);
    return Verdict::Reply;
}

bool CReplyLimiter::FirstRefusal(const std::string& sender, long long nowMs) {
    Forget(nowMs);
    return m_refused.emplace(sender, nowMs).second;
}
