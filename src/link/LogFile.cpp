#include "link/LogFile.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

CLogFile theLog;

namespace {

constexpr long kBlock = 1024;
constexpr size_t kFormatStep = 300;

// Holds an fd and the advisory lock that keeps other processes' writes out of ours.
class LockedFile {
public:
    explicit LockedFile(const std::string& path, int flags) {
        // The log holds the modem dialogue: phone numbers and message texts.
        m_fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd >= 0 && (::fchmod(m_fd, 0600) != 0 || ::flock(m_fd, LOCK_EX) != 0)) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~LockedFile() {
        if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

bool WriteAll(int fd, const char* data, size_t size, off_t offset) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

}  // namespace

void CLogFile::SetFileName(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_strFileName = path;
}

std::string CLogFile::GetFileName() const {
    std::lock_guard lock(m_mutex);
    return m_strFileName;
}

void CLogFile::SetEnabled(int flag) {
    std::lock_guard lock(m_mutex);
    m_bEnabled = flag ? 1 : 0;
}

std::string CLogFile::NormaliseLineEnds(const std::string& text) {
    // A text that already holds a CR LF pair is taken as formatted and left alone.
    if (text.find("\r\n") != std::string::npos) return text;
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\r' || c == '\n')
            out += "\r\n";
        else
            out += c;
    }
    return out;
}

std::string CLogFile::TimeStamp(const std::tm& local, unsigned milliseconds) {
    char head[32];
    size_t n = std::strftime(head, sizeof head, "[%m-%d %H:%M:%S", &local);
    char tail[16];
    std::snprintf(tail, sizeof tail, ".%03u] ", milliseconds % 1000);
    return std::string(head, n) + tail;
}

std::string CPinMask::Filter(const std::string& text) {
    static constexpr char kCommand[] = "AT+CPIN=";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (m_hiding) {
            if (c != '\r' && c != '\n') continue;
            m_hiding = false;
        }
        out += c;
        // 'A' appears only at the start of the command, so a mismatch can only begin anew.
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        m_matched = upper == kCommand[m_matched] ? m_matched + 1 : (upper == kCommand[0] ? 1 : 0);
        if (m_matched == sizeof kCommand - 1) {
            out += "\"****\"";
            m_hiding = true;
            m_matched = 0;
        }
    }
    return out;
}

std::string CLogFile::MaskPin(const std::string& text) { return CPinMask().Filter(text); }

int CLogFile::Write(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (!m_bEnabled) return 0;
    if (m_strFileName.empty()) m_strFileName = "Log.TXT";
    std::string data = NormaliseLineEnds(MaskPin(text));
    {
        LockedFile file(m_strFileName, O_WRONLY | O_CREAT | O_APPEND);
        if (file.fd() < 0) return -1;
        off_t end = ::lseek(file.fd(), 0, SEEK_END);
        if (end < 0 || !WriteAll(file.fd(), data.data(), data.size(), end)) return -1;
    }
    TrimLocked();
    return 1;
}

int CLogFile::WriteTimed(const std::string& text) {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    return Write(TimeStamp(local, static_cast<unsigned>(ms)) + text);
}

std::string CLogFile::Format(const char* format, va_list args) {
    // Grow the buffer in 300-byte steps until the text and its NUL fit.
    std::vector<char> buffer(kFormatStep);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int n = std::vsnprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() + kFormatStep);
    }
}

int CLogFile::Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    Write(text);
    return 1;
}

int CLogFile::PrintfTimed(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    WriteTimed(text);
    return 1;
}

int CLogFile::Trim() {
    std::lock_guard lock(m_mutex);
    if (m_strFileName.empty()) m_strFileName = "Log.TXT";
    return TrimLocked();
}

int CLogFile::TrimLocked() {
    LockedFile file(m_strFileName, O_RDWR | O_CREAT);
    int fd = file.fd();
    if (fd < 0) return -1;
    off_t length = ::lseek(fd, 0, SEEK_END);
    off_t limit = static_cast<off_t>(m_nLimitKB) * kBlock;
    if (length < 0 || length <= limit) return 1;

    // Cut the excess rounded up to the next whole kilobyte (a whole one more when exact).
    off_t cut = std::min(length, ((length - limit) / kBlock + 1) * kBlock);
    char block[kBlock];
    for (off_t k = 0;; ++k) {
        ssize_t n = ::pread(fd, block, kBlock, cut + kBlock * k);
        if (n < 0) break;
        if (n > 0 && !WriteAll(fd, block, static_cast<size_t>(n), kBlock * k)) break;
        if (n < kBlock) break;
    }
    if (::ftruncate(fd, length - cut) != 0) return -1;
    return 1;
}
