// Load for the HTTP message API: CONNECTIONS keep-alive connections, each sending one
// POST /v1/messages after the other (the next once the answer is read) for SECONDS, every
// message to a number and with a text ("api PID-...") of its own. RATE paces them to that
// many requests per second in all; 0, the default, sends as fast as answers come. Prints
// one line of name=value pairs: requests answered, those answered 201, other answers,
// broken exchanges, requests per second, and latency percentiles in milliseconds from the
// first byte sent to the last byte of the answer.
//   http_load HOST:PORT TOKEN [CONNECTIONS [SECONDS [RATE]]]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

struct Target {
    sockaddr_in address{};
    std::string token;
    Clock::duration interval{};  // between two requests of one connection; zero: none
};

struct Tally {
    std::vector<double> latencies;  // milliseconds, of every request answered
    long created = 0, other = 0, broken = 0;
};

int Connect(const Target& target) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    timeval timeout{30, 0};  // a server that stops answering ends the exchange, not the run
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&target.address), sizeof target.address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& data) {
    for (std::size_t done = 0; done < data.size();) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

struct Answer {
    int status = 0;
    bool close = false;  // the server ends the connection after it
};

// Reads one answer with a Content-Length; `pending` keeps what came after it.
std::optional<Answer> ReadAnswer(int fd, std::string& pending) {
    char buffer[4096];
    auto more = [&] {
        ssize_t n;
        do n = recv(fd, buffer, sizeof buffer, 0);
        while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(n));
        return true;
    };
    std::size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos)
        if (pending.size() > 65536 || !more()) return std::nullopt;
    std::string head = pending.substr(0, headEnd + 2);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Answer answer;
    if (head.compare(0, 5, "http/") != 0 || head.find(' ') == std::string::npos) return std::nullopt;
    answer.status = std::atoi(head.c_str() + head.find(' ') + 1);
    std::size_t length = head.find("\r\ncontent-length:");
    if (length == std::string::npos) return std::nullopt;
    const std::size_t bodyLength = std::strtoul(head.c_str() + length + 17, nullptr, 10);
    answer.close = head.find("\r\nconnection: close") != std::string::npos;
    while (pending.size() < headEnd + 4 + bodyLength)
        if (!more()) return std::nullopt;
    pending.erase(0, headEnd + 4 + bodyLength);
    return answer;
}

void Run(const Target& target, int connection, Clock::time_point end, Tally& tally) {
    int fd = -1;
    std::string pending;
    const std::string text = "api " + std::to_string(getpid()) + "-" + std::to_string(connection) + "-";
    const Clock::time_point first = Clock::now();
    for (long n = 0; Clock::now() < end; ++n) {
        if (target.interval > Clock::duration::zero()) {
            std::this_thread::sleep_until(first + n * target.interval);
            if (Clock::now() >= end) break;
        }
        if (fd < 0) {
            fd = Connect(target);
            if (fd < 0) {
                ++tally.broken;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            pending.clear();
        }
        char to[32];
        std::snprintf(to, sizeof to, "+49%02d%09ld", connection % 100, n % 1000000000);
        const std::string body = std::string("{\"to\":\"") + to + "\",\"text\":\"" + text + std::to_string(n) + "\"}";
        const std::string request = "POST /v1/messages HTTP/1.1\r\nHost: bench\r\nAuthorization: Bearer " +
                                    target.token + "\r\nContent-Type: application/json\r\nContent-Length: " +
                                    std::to_string(body.size()) + "\r\n\r\n" + body;
        const Clock::time_point start = Clock::now();
        std::optional<Answer> answer;
        if (SendAll(fd, request)) answer = ReadAnswer(fd, pending);
        if (!answer) {
            ++tally.broken;
            close(fd);
            fd = -1;
            continue;
        }
        tally.latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ++(answer->status == 201 ? tally.created : tally.other);
        if (answer->close) {
            close(fd);
            fd = -1;
        }
    }
    if (fd >= 0) close(fd);
}

// The nearest-rank percentile: the least value with at least p of the values at or below it.
double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s HOST:PORT TOKEN [CONNECTIONS [SECONDS [RATE]]]\n", argv[0]);
        return 2;
    }
    Target target;
    const std::string listen = argv[1];
    const std::size_t colon = listen.rfind(':');
    target.address.sin_family = AF_INET;
    const std::string host = colon == std::string::npos ? "" : listen.substr(0, colon);
    if (inet_pton(AF_INET, host.c_str(), &target.address.sin_addr) != 1) {
        std::fprintf(stderr, "%s: not an IPv4 address and port\n", argv[1]);
        return 2;
    }
    target.address.sin_port = htons(static_cast<uint16_t>(std::atoi(listen.c_str() + colon + 1)));
    target.token = argv[2];
    const int connections = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
    const double seconds = argc > 4 ? std::max(0.1, std::atof(argv[4])) : 20;
    const double rate = argc > 5 ? std::atof(argv[5]) : 0;
    if (rate > 0)
        target.interval = std::chrono::duration_cast<Clock::duration>(Seconds(connections / rate));

    std::vector<Tally> tallies(static_cast<std::size_t>(connections));
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < connections; ++i)
            threads.emplace_back(Run, std::cref(target), i, end, std::ref(tallies[static_cast<std::size_t>(i)]));
    }
    const double elapsed = Seconds(Clock::now() - start).count();

    Tally all;
    for (const Tally& t : tallies) {
        all.latencies.insert(all.latencies.end(), t.latencies.begin(), t.latencies.end());
        all.created += t.created;
        all.other += t.other;
        all.broken += t.broken;
    }
    std::sort(all.latencies.begin(), all.latencies.end());
    std::printf("requests=%zu created=%ld other=%ld broken=%ld seconds=%.2f rps=%.1f p50_ms=%.2f p90_ms=%.2f "
                "p99_ms=%.2f max_ms=%.2f\n",
                all.latencies.size(), all.created, all.other, all.broken, elapsed,
                static_cast<double>(all.latencies.size()) / elapsed, Percentile(all.latencies, 0.50),
                Percentile(all.latencies, 0.90), Percentile(all.latencies, 0.99),
                all.latencies.empty() ? 0.0 : all.latencies.back());
    return all.created > 0 ? 0 : 1;
}
