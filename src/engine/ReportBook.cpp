#include "engine/ReportBook.h"

#include "engine/InboxSpool.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

std::string ToHex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string hex = bytes.empty() ? "-" : "";
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 0xF];
    }
    return hex;
}

bool FromHex(const std::string& hex, std::string& bytes) {
    bytes.clear();
    if (hex == "-") return true;
    if (hex.empty() || hex.size() % 2 || hex.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
        return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return true;
}

std::string Digits(const std::string& phone) {
    std::string digits;
    for (char c : phone)
        if (c >= '0' && c <= '9') digits += c;
    return digits;
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
        if (!fields.fail() && FromHex(msgId, s.msgId) && FromHex(phone, s.phone)) m_entries.push_back(s);
    }
}

bool CReportBook::Store() const {
    if (m_path.empty()) return true;
    std::string data;
    for (const Submission& s : m_entries)
        data += std::to_string(s.reference) + " " + std::to_string(s.sentMs) + " " + ToHex(s.msgId) + " " +
                ToHex(s.phone) + "\n";
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
