#include "link/ComPort.h"

#include "link/Journal.h"
#include "link/LogFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int MIN_PORT = 1, MAX_PORT = 63;
constexpr int MIN_BAUD = 1200, MAX_BAUD = 115200;
constexpr int POLL_SLICE_MS = 50;   // between completion checks of a read or write
constexpr int UNTIL_SLICE_MS = 20;  // between reads while collecting a reply
constexpr long long READ_CAP_MS = 1000, WRITE_CAP_MS = 2000;

// termios has a constant per speed; other speeds in the accepted range are refused.
speed_t SpeedConstant(int baud) {
    switch (baud) {
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return 0;
    }
}

void ChangeLine(int fd, int bit, bool raise) {
    // A pty has no modem lines and answers ENOTTY: ignored.
    (void)::ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &bit);
}

}  // namespace

CComPort::CComPort(IClock& clock) : CComPort(clock, std::string()) {}

CComPort::CComPort(IClock& clock, std::string deviceFolder)
    : CTransport(clock), m_strDeviceFolder(std::move(deviceFolder)) {}

CComPort::~CComPort() {
    if (m_fd >= 0) ::close(m_fd);
}

void CComPort::Configure(int port, int baud) {
    m_nPort = port;
    m_nBaud = baud;
}

namespace {

std::mutex g_folderMutex;
std::string g_defaultFolder;

}  // namespace

void CComPort::SetDefaultDeviceFolder(const std::string& folder) {
    std::lock_guard lock(g_folderMutex);
    g_defaultFolder = folder;
}

std::string CComPort::DefaultDeviceFolder() {
    {
        std::lock_guard lock(g_folderMutex);
        if (!g_defaultFolder.empty()) return g_defaultFolder;
    }
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

std::string CComPort::DeviceName(int port, const std::string& folder) {
    const std::string entry = folder + "/COM" + std::to_string(port);
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(entry, ec))) return entry;
    return "/dev/ttyS" + std::to_string(port - 1);
}

int CComPort::Open() {
    if (m_fd >= 0) return -1;
    if (m_nPort < MIN_PORT || m_nPort > MAX_PORT || m_nBaud < MIN_BAUD || m_nBaud > MAX_BAUD)
        return -1;
    const speed_t speed = SpeedConstant(m_nBaud);
    if (speed == 0) return -1;

    const std::string folder = m_strDeviceFolder.empty() ? DefaultDeviceFolder() : m_strDeviceFolder;
    const std::string device = DeviceName(m_nPort, folder);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return OpenFailed(device, "open", errno, -1);
    // Exclusive use: a second opener (another gateway, a terminal program) is refused.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return OpenFailed(device, "lock", errno == EWOULDBLOCK ? EBUSY : errno, fd);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return OpenFailed(device, "set up", errno, fd);
    tcflush(fd, TCIOFLUSH);
    // Binary 8N1: no translation of input or output, no echo, no signals, no flow control.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | ISTRIP | INLCR | IGNCR | ICRNL |
                                          IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
        ::tcsetattr(fd, TCSANOW, &tio) != 0)
        return OpenFailed(device, "set up", errno, fd);
    ChangeLine(fd, TIOCM_DTR, true);
    ChangeLine(fd, TIOCM_RTS, true);
    m_fd = fd;
    m_strOpenError.clear();
    m_nLineErrors = -1;
    LineErrorPending();  // takes the counters as they stand now
    return 1;
}

int CComPort::OpenFailed(const std::string& device, const char* step, int error, int fd) {
    if (fd >= 0) ::close(fd);
    const std::string text = "cannot " + std::string(step) + " " + device + ": " + std::strerror(error);
    // Each new reason once: the gateway retries every tick.
    if (text != m_strOpenError) {
        m_strOpenError = text;
        Journal(JOURNAL_ERR, "%s", text.c_str());
    }
    return -1;
}

int CComPort::Close() {
    if (m_fd < 0) return 1;
    if (::close(m_fd) != 0 && errno != EINTR) return -1;
    m_strReceived.clear();
    m_fd = -1;
    return 1;
}

bool CComPort::LineErrorPending() {
    serial_icounter_struct counts{};
    if (::ioctl(m_fd, TIOCGICOUNT, &counts) != 0) return false;  // a pty keeps no counters
    const long long errors = static_cast<long long>(counts.frame) + counts.overrun +
                             counts.parity + counts.brk + counts.buf_overrun;
    const bool pending = m_nLineErrors >= 0 && errors != m_nLineErrors;
    m_nLineErrors = errors;
    return pending;
}

bool CComPort::WaitReady(short events, long long limitMs) {
    const long long start = m_clock.NowMs();
    for (;;) {
        pollfd p{m_fd, events, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & events)) return true;
        if (m_clock.NowMs() - start >= limitMs || m_clock.StopRequested()) return false;
        m_clock.PumpMessages();
        m_clock.SleepMs(POLL_SLICE_MS);
    }
}

bool CComPort::HungUp() {
    if (m_fd < 0) return true;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLHUP | POLLERR | POLLNVAL))) return false;
    int queued = 0;  // what came before the hang-up is read first
    return ::ioctl(m_fd, FIONREAD, &queued) != 0 || queued <= 0;
}

std::string CComPort::Read() {
    if (m_fd < 0) return std::string();
    if (LineErrorPending()) return std::string();  // the data stays queued for the next read
    int queued = 0;
    if (::ioctl(m_fd, FIONREAD, &queued) != 0 || queued <= 0) return std::string();

    const int wanted = std::min(queued, MAX_CHUNK);
    std::vector<char> buffer(static_cast<size_t>(wanted));
    const long long limit = std::min<long long>(
        m_timeouts[READ_CONSTANT] + static_cast<long long>(wanted) * m_timeouts[READ_PER_BYTE],
        READ_CAP_MS);
    ssize_t got = ::read(m_fd, buffer.data(), buffer.size());
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        if (WaitReady(POLLIN, limit)) got = ::read(m_fd, buffer.data(), buffer.size());
        if (got <= 0) tcflush(m_fd, TCIFLUSH);
    }
    if (got <= 0) return std::string();

    std::string chunk(buffer.data(), static_cast<size_t>(got));
    chunk.resize(std::min(chunk.size(), chunk.find('\0')));
    if (chunk.empty()) return chunk;
    m_strReceived += chunk;
    LogReceived(chunk, true);
    return chunk;
}

int CComPort::Write(const std::string& text) {
    if (text.empty() || m_fd < 0) return 0;
    LineErrorPending();  // clears the error state
    const long long limit = std::min<long long>(
        m_timeouts[WRITE_CONSTANT] + static_cast<long long>(text.size()) * m_timeouts[WRITE_PER_BYTE],
        WRITE_CAP_MS);
    const long long start = m_clock.NowMs();
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + written, text.size() - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;  // failed: count what went out
        const long long left = limit - (m_clock.NowMs() - start);
        if (left <= 0 || !WaitReady(POLLOUT, left)) {
            tcflush(m_fd, TCOFLUSH);
            written = 0;
            break;
        }
    }
    theLog.WriteTimed(text);
    return static_cast<int>(written);
}

std::string CComPort::ReadUntil(const std::string& t1, const std::string& t2,
                                const std::string& t3, int timeoutMs) {
    if (m_fd < 0) return std::string();
    const long long deadline = m_clock.NowMs() + timeoutMs;
    std::string collected;
    while (m_clock.NowMs() < deadline && !m_clock.StopRequested()) {
        m_clock.PumpMessages();
        m_clock.SleepUntilReadable(m_fd, UNTIL_SLICE_MS);
        const std::string chunk = Read();
        if (chunk.empty()) continue;
        collected += chunk;
        if (HasTerminator(collected, t1, t2, t3)) break;
    }
    return collected;
}

std::string CComPort::Exchange(const std::string& command, const std::string& extra,
                               int timeoutMs) {
    return ExchangeSteps(command, extra, timeoutMs);
}

int CComPort::SetLines(int flags) {
    if (m_fd >= 0) {
        ChangeLine(m_fd, TIOCM_DTR, (flags & 1) != 0);
        ChangeLine(m_fd, TIOCM_RTS, (flags & 2) != 0);
    }
    return 1;
}
