#include "engine/ReportBook.h"

#include "engine/InboxSpool.h"
#include "engine/PartSpool.h"

#include <algorithm>
#include <fstream>
#include <sstream>

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

void CReportBook::SetPath(std::string path) {
    m_path = std::move(path);
    m_entries.clear();
    if (m_path.empty()) return;
    std::ifstream in(m_path);
    std::string line;
    while (std::getline(in, line)) {
        // "<reference> <sent ms> <msgid hex> <phone hex>"
        std::istringstream fields(line);
        Submission s;
        std::string msgId, phone;
        fields >> s.reference >> s.sentMs >> msgId >> phone;
        if (!fields.fail() && FieldFromHex(msgId, s.msgId) && FieldFromHex(phone, s.phone)) m_entries.push_back(s);
    }
}

bool CReportBook::Store() const {
    if (m_path.empty()) return true;
    std::string data;
    for (const Submission& s : m_entries)
        data += std::to_string(s.reference) + " " + std::to_string(s.sentMs) + " " + FieldHex(s.msgId) + " " +
                FieldHex(s.phone) + "\n";
    return WriteFileDurably(m_path, data);
}

bool CReportBook::Add(const Submission& submission) {
    // Submissions whose report never came are forgotten after three days.
    std::erase_if(m_entries, [&](const Submission& s) { return submission.sentMs - s.sentMs > KEEP_MS; });
    m_entries.push_back(submission);
    return Store();
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

bool CReportBook::Remove(const Submission* submission, long long nowMs) {
    std::vector<Submission> kept;
    for (const Submission& s : m_entries)
        if (&s != submission && nowMs - s.sentMs <= KEEP_MS) kept.push_back(s);
    if (kept.size() == m_entries.size()) return true;
    m_entries = std::move(kept);
    return Store();
}

int ReportStatusValue(int tpStatus) {
    if (tpStatus < 0 || tpStatus > 0x7F) return 0;  // reserved: no outcome claimed
    switch (tpStatus & 0x60) {
    case 0x00: return 1;   // delivered, forwarded or replaced
    case 0x20: return 0;   // temporary error, the service centre keeps trying
    default: return -1;    // permanent error, or a temporary one with no more attempts
    }
}
