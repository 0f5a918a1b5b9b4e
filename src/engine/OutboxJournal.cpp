#include "engine/OutboxJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string EscapeId(const std::string& id) {
    std::string out;
    for (unsigned char c : id) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string UnescapeId(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool IsInteger(const std::string& text) {
    if (text.empty()) return false;
    size_t start = text[0] == '-' ? 1 : 0;
    return start < text.size() && text.find_first_not_of("0123456789", start) == std::string::npos;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The rename of the file is durable only once its folder is synced.
bool SyncFolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

COutboxJournal::COutboxJournal(std::string path) { SetPath(std::move(path)); }

void COutboxJournal::SetPath(std::string path) {
    m_path = std::move(path);
    m_entries.clear();
    Load();
}

void COutboxJournal::Load() {
    if (m_path.empty()) return;
    std::ifstream in(m_path);
    std::string line;
    while (std::getline(in, line)) {
        size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        std::string word = line.substr(0, space);
        std::string rest = line.substr(space + 1);
        Entry entry;
        if (word == "sending" || word == "claimed") {
            entry = {UnescapeId(rest), word == "sending" ? State::Sending : State::Claimed, 0};
        } else if (word == "result") {
            size_t idAt = rest.find(' ');
            if (idAt == std::string::npos || !IsInteger(rest.substr(0, idAt))) continue;
            entry = {UnescapeId(rest.substr(idAt + 1)), State::Result, std::atoi(rest.c_str())};
        } else if (IsInteger(word)) {
            entry = {rest, State::Result, std::atoi(word.c_str())};  // "<result> <msgid>" of earlier versions
        } else {
            continue;
        }
        if (!Contains(entry.msgId)) m_entries.push_back(std::move(entry));
    }
}

bool COutboxJournal::Store(bool durable) const {
    if (m_path.empty()) return true;
    if (m_entries.empty()) return ::unlink(m_path.c_str()) == 0 || errno == ENOENT;
    std::string data;
    for (const auto& e : m_entries) {
        data += e.state == State::Claimed   ? "claimed "
                : e.state == State::Sending ? "sending "
                                            : "result " + std::to_string(e.result) + " ";
        data += EscapeId(e.msgId) + "\n";
    }
    std::string tmp = m_path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, data) && (!durable || ::fsync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), m_path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return !durable || SyncFolderOf(m_path);
}

COutboxJournal::Entry* COutboxJournal::Find(const std::string& msgId) {
    auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.msgId == msgId; });
    return it == m_entries.end() ? nullptr : &*it;
}

bool COutboxJournal::MarkClaimed(const std::string& msgId) {
    if (Find(msgId)) return false;
    m_entries.push_back({msgId, State::Claimed, 0});
    if (Store()) return true;
    m_entries.pop_back();
    return false;
}

bool COutboxJournal::MarkSending(const std::string& msgId) {
    if (Entry* e = Find(msgId)) {
        if (e->state != State::Claimed) return false;  // already on its way or done: never a second time
        e->state = State::Sending;
        if (Store()) return true;
        Find(msgId)->state = State::Claimed;
        return false;
    }
    m_entries.push_back({msgId, State::Sending, 0});
    if (Store()) return true;
    m_entries.pop_back();
    return false;
}

bool COutboxJournal::SetResult(const std::string& msgId, int result) {
    if (Entry* e = Find(msgId)) {
        e->state = State::Result;
        e->result = result;
    } else {
        m_entries.push_back({msgId, State::Result, result});
    }
    return Store();
}

bool COutboxJournal::Remove(const std::string& msgId) {
    auto it = std::remove_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.msgId == msgId; });
    if (it == m_entries.end()) return true;
    m_entries.erase(it, m_entries.end());
    // A removal lost in a crash only repeats an update that already succeeded; the next
    // durable change makes it durable as well.
    return Store(false);
}

bool COutboxJournal::Contains(const std::string& msgId) const {
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.msgId == msgId; });
}
