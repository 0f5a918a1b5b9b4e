#pragma once
// Who gets an answer to a keyword, and how often: a sender must be listed (when a list
// is set), stay within its replies per hour, and all replies within a daily total.
// Anyone can put any sender number on an SMS, so without these limits every keyword
// would make the gateway send paid messages wherever a stranger points it.
#include <deque>
#include <map>
#include <string>

// Whether the sender is in a comma list of numbers and prefixes ending in '*'; blanks
// around entries and a leading '+' (on either side) do not count. An empty list holds every sender.
bool ReplyNumberListed(const std::string& list, const std::string& sender);

class CReplyLimiter {
public:
    static constexpr int DAILY_LIMIT = 100;
    enum class Verdict { Reply, Off, NotListed, SenderLimit, DailyLimit };

    // Decides whether the sender gets a reply now; a Reply is counted against the limits.
    Verdict Take(const std::string& sender, const std::string& list, int perHour, long long nowMs);
    // True for the first refusal of a sender within an hour: the one the journal reports.
    bool FirstRefusal(const std::string& sender, long long nowMs);

private:
    void Forget(long long nowMs);

    std::map<std::string, std::deque<long long>> m_bySender;  // reply times within the last hour
    std::deque<long long> m_all;                                 // reply times within the last day
    std::map<std::string, long long> m_refused;                  // last journalled refusal
};
