#pragma once
// Stands for /dev/log while it lives: the journal lines the process writes, one datagram each.
#include "link/Journal.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

class JournalCapture {
public:
    explicit JournalCapture(const std::string& path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << "bind";
        SetJournalSocket(path);
    }
    ~JournalCapture() {
        SetJournalSocket("/dev/log");
        ::close(m_fd);
    }
    // Every line received so far; waits (bounded) for one that holds `text`, if given.
    const std::vector<std::string>& Lines(const std::string& text = "") {
        for (int waited = 0;; waited += 50) {
            pollfd p{m_fd, POLLIN, 0};
            while (::poll(&p, 1, 0) > 0) {
                char data[4096];
                ssize_t n = ::recv(m_fd, data, sizeof data, 0);
                if (n > 0) m_lines.emplace_back(data, static_cast<std::size_t>(n));
            }
            if (text.empty() || Has(text) || waited > 10000) return m_lines;
            ::poll(&p, 1, 50);
        }
    }
    bool Has(const std::string& text) const {
        for (const std::string& line : m_lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

private:
    int m_fd = -1;
    std::vector<std::string> m_lines;
};
