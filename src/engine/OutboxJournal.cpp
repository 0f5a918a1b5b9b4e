#include "engine/OutboxJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

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
        // "<result> <message id>": the id is the rest of the line, spaces included.
        size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        std::string id = line.substr(space + 1);
        int result = std::atoi(line.substr(0, space).c_str());
        if (!Contains(id)) m_entries.emplace_back(id, result);
    }
}

bool COutboxJournal::Store() const {
    if (m_path.empty()) return true;
    if (m_entries.empty()) return ::unlink(m_path.c_str()) == 0 || errno == ENOENT;
    std::string data;
    for (const auto& [id, result] : m_entries) data += std::to_string(result) + " " + id + "\n";

    std::string tmp = m_path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), m_path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool COutboxJournal::Add(const std::string& msgId, int result) {
    if (msgId.find('\n') != std::string::npos) return false;
    auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.first == msgId; });
    if (it != m_entries.end())
        it->second = result;
    else
        m_entries.emplace_back(msgId, result);
    return Store();
}

bool COutboxJournal::Remove(const std::string& msgId) {
    auto it = std::remove_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.first == msgId; });
    if (it == m_entries.end()) return true;
    m_entries.erase(it, m_entries.end());
    return Store();
}

bool COutboxJournal::Contains(const std::string& msgId) const {
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.first == msgId; });
}
