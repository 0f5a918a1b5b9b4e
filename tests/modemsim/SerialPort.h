#pragma once
// A raw client end of the simulator's pseudo-terminal for the tests.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

class SerialPort {
public:
    explicit SerialPort(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~SerialPort() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool IsOpen() const { return m_fd >= 0; }

    void Write(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }

    // Reads until `until` is among the bytes read or five seconds pass; returns them all.
    // `reads` counts the read calls that returned data.
    std::string ReadUntil(const std::string& until, int* reads = nullptr) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            if (ReadSome(got, 50) && reads)
                ++*reads;
        }
        return got;
    }

    // Whatever arrives within `ms` milliseconds.
    std::string ReadFor(int ms) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline)
            ReadSome(got, 10);
        return got;
    }

private:
    bool ReadSome(std::string& to, int waitMs) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return false;
        char buf[512];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        to.append(buf, static_cast<size_t>(n));
        return true;
    }

    int m_fd = -1;
};
