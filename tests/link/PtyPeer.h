#pragma once
// The far end of a pseudo-terminal, playing a modem for the serial port tests: every
// command line (ended by CR) is handed to a script that answers with timed chunks.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

class PtyPeer {
public:
    struct Chunk {
        std::string text;
        int delayMs = 0;  // pause before this chunk
    };
    using Script = std::function<std::vector<Chunk>(const std::string& line)>;

    // Creates the pty and the symlink linkPath to its slave side.
    explicit PtyPeer(const std::string& linkPath) : m_link(linkPath) {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
        const char* slave = ::ptsname(m_master);
        if (!slave || ::symlink(slave, m_link.c_str()) != 0) return;
        // Keep the slave open ourselves so the line never hangs up between the port's opens.
        m_holder = ::open(slave, O_RDWR | O_NOCTTY);
        m_ready = m_holder >= 0;
        m_thread = std::thread([this] { Run(); });
    }
    ~PtyPeer() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_holder >= 0) ::close(m_holder);
        if (m_master >= 0) ::close(m_master);
        ::unlink(m_link.c_str());
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Ready() const { return m_ready; }
    void SetScript(Script script) {
        std::lock_guard lock(m_mutex);
        m_script = std::move(script);
    }
    // Writes text to the port now.
    void Send(const std::string& text) { WriteAll(text); }
    std::string Heard() {
        std::lock_guard lock(m_mutex);
        return m_heard;
    }

private:
    void WriteAll(const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(m_master, text.data() + done, text.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }
    void Run() {
        std::string line;
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
            char buffer[256];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0) continue;
            for (ssize_t i = 0; i < n; ++i) {
                const char c = buffer[i];
                Script script;
                {
                    std::lock_guard lock(m_mutex);
                    m_heard += c;
                    script = m_script;
                }
                line += c;
                if (c != '\r') continue;
                const std::vector<Chunk> chunks = script ? script(line) : std::vector<Chunk>{};
                line.clear();
                for (const Chunk& chunk : chunks) {
                    if (chunk.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(chunk.delayMs));
                    WriteAll(chunk.text);
                }
            }
        }
    }

    std::string m_link;
    int m_master = -1;
    int m_holder = -1;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    Script m_script;
    std::string m_heard;
    std::thread m_thread;
};
