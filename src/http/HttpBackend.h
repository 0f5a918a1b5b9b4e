#pragma once
// What the HTTP interface needs of the gateway. The shell implements it on top of the
// engine and the database; this layer links neither. The server calls it from its own
// threads, several requests at once: every method must be thread-safe, and should answer
// within the time a client waits (a second or two), never block on the modem.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Observations of a duration in fixed buckets, as a Prometheus histogram shows them.
// Not synchronised: its owner feeds it under its own lock and copies it into a snapshot.
struct LatencyHistogram {
    static constexpr std::array<double, 13> BOUNDS = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60};
    std::array<std::uint64_t, BOUNDS.size() + 1> counts{};  // per bucket; the last: above every bound
    double sum = 0;                                         // seconds
    std::uint64_t count = 0;

    void Observe(double seconds);
};

// A message the status page lists.
struct RecentMessage {
    std::string time;  // as the gateway shows times
    bool outgoing = false;
    std::string phone;  // the whole number: the page masks it
    std::string text;
    std::string result;  // "sent", "failed", "unknown", "received", ...
};

// The gateway's state at one moment: what /metrics, /health and the page show.
struct GatewaySnapshot {
    // Counters since the process started; they never go down.
    std::uint64_t sent = 0, failed = 0, unknown = 0, received = 0, rejected = 0;
    long long outboxPending = -1;  // rows waiting in the outbox; negative: not known
    bool modemUp = false, databaseUp = false, simReady = false, networkUp = false;
    int signalQuality = -1;                     // rssi 0..31 as the modem reports it; anything else: not known
    int batteryPercent = -1;                    // 0..100; anything else: not known (external power, no battery)
    long long webhookQueueDepth = -1;           // events waiting for delivery; negative: webhooks off
    LatencyHistogram submission;                // seconds per submission
    std::vector<std::string> lastErrors;        // newest first
    std::vector<RecentMessage> recentMessages;  // newest first
};

struct SendResult {
    bool queued = false;
    std::string id;     // the new outbox row's message id, when queued
    std::string error;  // why not, when not queued (the database is down, the insert failed)
};

struct StatusResult {
    enum class Outcome { Found, NotFound, Unavailable };
    Outcome outcome = Outcome::Unavailable;
    int status = 0;     // the row's status, when found
    std::string error;  // why it could not be asked, when unavailable
};

class IHttpBackend {
public:
    virtual ~IHttpBackend() = default;
    // Inserts one outbox row. The number matches +?[0-9]{3,20} and the text is valid UTF-8,
    // not empty and bounded; both are values to bind, never SQL text.
    virtual SendResult Send(const std::string& to, const std::string& text) = 0;
    // The status of the outbox row with this message id (1..64 printable characters, no '/';
    // a value to bind, never SQL text).
    virtual StatusResult Status(const std::string& id) = 0;
    virtual GatewaySnapshot Snapshot() = 0;
};
