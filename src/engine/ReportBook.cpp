#include "engine/ReportBook.h"

#include <algorithm>

namespace {

// The last nine digits of a number: the subscriber part, the same whether the outbox row
// wrote it nationally ("0170...") or internationally ("+49170...", "0049170...").
std::string Digits(const std::string& phone) {
    std::string digits;
    for (char c : phone)
        if (c >= '0' && c <= '9') digits += c;
    return digits.size() > 9 ? digits.substr(digits.size() - 9) : digits;
}

}  // namespace

void CReportBook::Attach(IStateStore* store) {
    m_store = store;
    m_entries = store ? store->LoadSubmissions() : std::vector<Submission>{};
}

bool CReportBook::Add(const Submission& submission) {
    // Submissions whose report never came are forgotten after three days.
    std::erase_if(m_entries, [&](const Submission& s) { return submission.sentMs - s.sentMs > KEEP_MS; });
    m_entries.push_back(submission);
    return !m_store || m_store->AddSubmission(submission, submission.sentMs - KEEP_MS);
}

const Submission* CReportBook::Match(int reference, const std::string& phone, long long nowMs) const {
    const Submission* newest = nullptr;
    const std::string digits = Digits(phone);
    for (const Submission& s : m_entries) {
        if (s.reference != reference || Digits(s.phone) != digits || nowMs - s.sentMs > KEEP_MS) continue;
        if (!newest || s.sentMs >= newest->sentMs) newest = &s;
    }
    return newest;
}

bool CReportBook::Remove(const Submission* submission, long long nowMs, const WebhookEvent* event) {
    std::vector<Submission> kept;
    for (const Submission& s : m_entries)
        if (&s != submission && nowMs - s.sentMs <= KEEP_MS) kept.push_back(s);
    if (kept.size() == m_entries.size()) return !m_store || !event || m_store->QueueEvent(*event);
    const Submission none{-1, {}, {}, 0};
    const bool stored = !m_store || m_store->DropSubmission(submission ? *submission : none, nowMs - KEEP_MS, event);
    m_entries = std::move(kept);
    return stored;
}

int ReportStatusValue(int tpStatus) {
    if (tpStatus < 0 || tpStatus > 0x7F) return 0;  // reserved: no outcome claimed
    switch (tpStatus & 0x60) {
    case 0x00: return 1;   // delivered, forwarded or replaced
    case 0x20: return 0;   // temporary error, the service centre keeps trying
    default: return -1;    // permanent error, or a temporary one with no more attempts
    }
}
