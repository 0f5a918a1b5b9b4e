#include "engine/InboxSpool.h"

#include "link/LogFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncFolder(const std::string& path) {
    const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string ToHex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 0x0F];
    }
    return hex;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool FromHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2) return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high << 4 | low);
    }
    return true;
}

// "<received> <phone> <time> <text>", the last three in hex.
std::string FormatLine(const SpooledMessage& m) {
    return std::to_string(m.received) + " " + ToHex(m.phone) + " " + ToHex(m.time) + " " + ToHex(m.text) + "\n";
}

bool ParseLine(const std::string& line, SpooledMessage& m) {
    std::istringstream in(line);
    std::string received, phone, time, text;
    if (!std::getline(in, received, ' ') || !std::getline(in, phone, ' ') || !std::getline(in, time, ' ') ||
        !std::getline(in, text))
        return false;
    char* end = nullptr;
    m.received = std::strtoll(received.c_str(), &end, 10);
    return !received.empty() && *end == '\0' && FromHex(phone, m.phone) && FromHex(time, m.time) &&
           FromHex(text, m.text);
}

}  // namespace

bool WriteFileDurably(const std::string& path, const std::string& data) {
    if (data.empty()) return (::unlink(path.c_str()) == 0 || errno == ENOENT) && SyncFolder(path);
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return SyncFolder(path);
}

void CInboxSpool::SetPath(std::string path) {
    m_path = std::move(path);
    m_entries.clear();
    m_unreadable.clear();
    if (m_path.empty()) return;
    std::ifstream in(m_path);
    std::string line;
    while (std::getline(in, line)) {
        SpooledMessage m;
        if (ParseLine(line, m))
            m_entries.push_back(std::move(m));
        else if (!line.empty()) {
            theLog.WriteTimed("Spool line not understood, kept in the file: " + line + "\r\n");
            m_unreadable += line + "\n";
        }
    }
}

bool CInboxSpool::Store() const {
    if (m_path.empty()) return true;
    std::string data = m_unreadable;
    for (const SpooledMessage& m : m_entries) data += FormatLine(m);
    return WriteFileDurably(m_path, data);
}

bool CInboxSpool::Add(const SpooledMessage& message) {
    m_entries.push_back(message);
    return Store();
}

bool CInboxSpool::Remove(size_t position) {
    if (position >= m_entries.size()) return true;
    m_entries.erase(m_entries.begin() + static_cast<long>(position));
    return Store();
}

bool AppendRejected(const std::string& path, const std::string& line) {
    if (path.empty()) return false;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return WriteFileDurably(path, data.str() + line + "\n");
}
