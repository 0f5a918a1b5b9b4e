#include "shell/StatusFile.h"

#include "link/Journal.h"
#include "state/StateFolder.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A snapshot is a few hundred bytes; anything beyond this is not one.
constexpr std::size_t MAX_STATUS_BYTES = 16 * 1024;

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The file's text; false when it cannot be read whole.
bool ReadSmallFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > MAX_STATUS_BYTES) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& data) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, data);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

CStatusFile::CStatusFile(std::string path, std::function<std::string()> snapshot)
    : m_path(std::move(path)), m_snapshot(std::move(snapshot)), m_thread([this] { Run(); }) {}

CStatusFile::~CStatusFile() {
    {
        std::lock_guard lock(m_mutex);
        m_bQuit = true;
    }
    m_quit.notify_all();
    m_thread.join();
    ::unlink(m_path.c_str());
}

void CStatusFile::Run() {
    std::string written;
    bool failed = false;  // a file that cannot be written is tried again, not reported again
    std::unique_lock lock(m_mutex);
    while (!m_bQuit) {
        lock.unlock();
        const std::string text = m_snapshot();
        if (text != written) {
            const bool ok = ReplaceFileAtomically(m_path, text);
            if (ok) written = text;
            if (!ok && !failed) Journal(JOURNAL_WARNING, "cannot write %s: %s", m_path.c_str(), std::strerror(errno));
            failed = !ok;
        }
        lock.lock();
        m_quit.wait_for(lock, std::chrono::milliseconds(PERIOD_MS), [this] { return m_bQuit; });
    }
}

int PrintGatewayStatus(const std::string& folder, std::FILE* out, std::FILE* err) {
    std::string error;
    const long holder = CFolderLock::Holder(folder, error);
    if (holder < 0) {
        std::fprintf(err, "%s\n", error.c_str());
        return 4;
    }
    if (holder == 0) {
        std::fprintf(out, "state=stopped\n");
        std::fflush(out);
        return 3;
    }
    // The snapshot of this gateway; until it has written its first one, it is starting.
    std::string text;
    const bool current = ReadSmallFile(folder + "/" + STATUS_FILE_NAME, text) &&
                         text.find("\npid=" + std::to_string(holder) + "\n") != std::string::npos;
    if (!current) text = "state=starting\npid=" + std::to_string(holder) + "\n";
    std::fputs(text.c_str(), out);
    std::fflush(out);
    return 0;
}
