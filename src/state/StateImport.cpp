// The line-oriented state files of earlier versions, read once into the store.
#include "state/StateStore.h"

#include "link/Clock.h"
#include "state/Statement.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Hex pairs back to bytes; "-" stands for an empty field where `dash` allows it.
bool FromHex(const std::string& hex, std::string& bytes, bool dash) {
    bytes.clear();
    if (dash && hex == "-") return true;
    if (hex.size() % 2 || (dash && hex.empty())) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high << 4 | low);
    }
    return true;
}

bool IsInteger(const std::string& text) {
    const size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    return start < text.size() && text.find_first_not_of("0123456789", start) == std::string::npos;
}

// A journal id: the rest of the line, '\' and control characters written as \xHH.
bool JournalId(const std::string& text, std::string& id) {
    id.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            id += text[i];
            continue;
        }
        std::string byte;
        if (i + 3 >= text.size() || text[i + 1] != 'x' || !FromHex(text.substr(i + 2, 2), byte, false)) return false;
        id += byte;
        i += 3;
    }
    return !id.empty();
}

bool ParseJournalLine(const std::string& line, JournalEntry& entry) {
    const size_t space = line.find(' ');
    if (space == std::string::npos) return false;
    const std::string word = line.substr(0, space), rest = line.substr(space + 1);
    if (word == "sending" || word == "claimed") {
        entry.state = word == "sending" ? JournalState::Sending : JournalState::Claimed;
        return JournalId(rest, entry.msgId);
    }
    entry.state = JournalState::Result;
    if (IsInteger(word)) {  // "<result> <msgid>" of the oldest versions
        entry.result = std::atoi(word.c_str());
        entry.msgId = rest;
        return !rest.empty();
    }
    const size_t idAt = rest.find(' ');
    if (word != "result" || idAt == std::string::npos || !IsInteger(rest.substr(0, idAt))) return false;
    entry.result = std::atoi(rest.c_str());
    return JournalId(rest.substr(idAt + 1), entry.msgId);
}

// "<received> <phone> <time> <text>", the last three in hex.
bool ParseSpoolLine(const std::string& line, SpooledMessage& m) {
    std::istringstream in(line);
    std::string received, phone, time, text;
    if (!std::getline(in, received, ' ') || !std::getline(in, phone, ' ') || !std::getline(in, time, ' ') ||
        !std::getline(in, text) || !IsInteger(received))
        return false;
    m.received = std::strtoll(received.c_str(), nullptr, 10);
    return FromHex(phone, m.phone, false) && FromHex(time, m.time, false) && FromHex(text, m.text, false);
}

// "<ref> <count> <number> <arrived ms> <time hex> <phone hex> <text hex>"
bool ParsePartLine(const std::string& line, MessagePart& part) {
    std::istringstream fields(line);
    std::string time, phone, text, more;
    fields >> part.reference >> part.count >> part.number >> part.arrivedMs >> time >> phone >> text;
    return !fields.fail() && !(fields >> more) && FromHex(time, part.time, true) && FromHex(phone, part.phone, true) &&
           FromHex(text, part.text, true) && part.number >= 0 && part.number <= part.count;
}

// "<reference> <sent ms> <msgid hex> <phone hex>"
bool ParseReferenceLine(const std::string& line, Submission& s) {
    std::istringstream fields(line);
    std::string msgId, phone, more;
    fields >> s.reference >> s.sentMs >> msgId >> phone;
    return !fields.fail() && !(fields >> more) && FromHex(msgId, s.msgId, true) && FromHex(phone, s.phone, true) &&
           s.reference >= 0 && s.reference <= 255;
}

// "<date> <time> <store> <index> <pdu>"
bool ParseRejectedLine(const std::string& line, RejectedPdu& r) {
    std::istringstream fields(line);
    std::string date, time, index;
    fields >> date >> time >> r.store >> index >> r.pdu;
    if (fields.fail() || !IsInteger(index)) return false;
    r.at = date + " " + time;
    r.index = std::atoi(index.c_str());
    r.reason = "does not decode";
    return true;
}

bool ReadLines(const std::string& path, std::vector<std::string>& lines, bool& exists) {
    lines.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    exists = fd >= 0 || errno != ENOENT;
    if (fd < 0) return !exists;
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    if (n < 0) return false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

}  // namespace

bool CStateStore::ImportOldFiles(const std::string& folder, std::vector<std::string>& damaged, std::string& error) {
    static const char* const kNames[] = {"Pellwick.journal", "Pellwick.spool", "Pellwick.parts", "Pellwick.references",
                                         "Pellwick.rejected"};
    damaged.clear();
    std::vector<std::string> found;
    const bool ok = Transaction([&] {
        for (const char* name : kNames) {
            const std::string path = folder + "/" + name;
            std::vector<std::string> lines;
            bool exists = false;
            if (!ReadLines(path, lines, exists)) {
                m_strError = "cannot read " + path + ": " + std::strerror(errno);
                return false;
            }
            if (!exists) continue;
            found.push_back(name);
            Statement done(m_db, "select 1 from imported where name = ?");
            if (done.Text(name).Row()) continue;  // imported before a crash kept it from its rename
            for (size_t i = 0; i < lines.size(); ++i) {
                const std::string& line = lines[i];
                bool parsed = false, stored = true;
                const std::string which(name);
                if (which == "Pellwick.journal") {
                    JournalEntry e;
                    if ((parsed = ParseJournalLine(line, e))) stored = PutJournal(e);
                } else if (which == "Pellwick.spool") {
                    SpooledMessage m;
                    if ((parsed = ParseSpoolLine(line, m))) stored = AddSpooled(m);
                } else if (which == "Pellwick.parts") {
                    MessagePart p;
                    if ((parsed = ParsePartLine(line, p))) stored = InsertPart(p);
                } else if (which == "Pellwick.references") {
                    Submission s;
                    if ((parsed = ParseReferenceLine(line, s))) {
                        Statement add(m_db, "insert into submissions(reference, msgid, phone, sent_ms) values(?, ?, ?, ?)");
                        stored = add.Int(s.reference).Text(s.msgId).Text(s.phone).Int(s.sentMs).Run() || Fail();
                    }
                } else {
                    RejectedPdu r;
                    if ((parsed = ParseRejectedLine(line, r))) stored = InsertRejected(r);
                }
                if (!stored) return false;
                if (parsed) continue;
                // Kept where an administrator finds it, never silently dropped.
                const std::string what = which + " line " + std::to_string(i + 1) + " does not parse";
                damaged.push_back(what + ": " + line);
                if (!InsertRejected({LocalTimeText(std::time(nullptr)), "-", 0, line, "damaged: " + what})) return false;
            }
            Statement mark(m_db, "insert into imported(name, at) values(?, ?)");
            if (!mark.Text(name).Int(static_cast<long long>(std::time(nullptr))).Run()) return Fail();
        }
        return true;
    });
    if (!ok) {
        error = "cannot import the state files of " + folder + ": " + m_strError;
        return false;
    }
    for (const std::string& name : found) {
        const std::string path = folder + "/" + name;
        if (std::rename(path.c_str(), (path + ".imported").c_str()) != 0) {
            error = "cannot rename " + path + " after its import: " + std::strerror(errno);
            return false;
        }
    }
    return true;
}
