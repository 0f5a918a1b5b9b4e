#pragma once
// Delivers the webhook events queued in the state store, on a thread of its own with a
// connection of its own to the store: oldest first, one at a time, each POSTed as JSON with
// its signature until the receiver answers 2xx; only then is it dropped. A receiver that
// does not take an event holds the queue back: the event is tried again after 1, 2, 4 ...
// seconds, at most the longest back-off, its attempts counted in the store (after a start,
// the first post is tried at once). Delivery is in order, and a receiver that is down for
// hours gets every event afterwards; a retry repeats the same body, so the receiver tells
// repeats by their event_id.
#include "state/StateRecords.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// "sha256=" and the hex HMAC-SHA256 of `body` under `secret`: the X-Pellwick-Signature header.
std::string WebhookSignature(const std::string& secret, const std::string& body);
// The wait after an event's `attempts`-th failed post: 1 s doubled each time, at most `maxMs`.
long long WebhookBackoffMs(int attempts, long long maxMs);

class CWebhookSender {
public:
    static constexpr long long MAX_BACKOFF_MS = 60 * 1000;

    // `storePath`: the state store's file; `url`: http or https only, redirects not followed.
    CWebhookSender(std::string storePath, std::string url, std::string secret, long long maxBackoffMs = MAX_BACKOFF_MS);
    ~CWebhookSender();
    CWebhookSender(const CWebhookSender&) = delete;
    CWebhookSender& operator=(const CWebhookSender&) = delete;

    void Start();
    // Asks the thread to end: a post under way is aborted, the event stays queued.
    void RequestStop();
    // RequestStop, then waits for the thread.
    void Stop();

private:
    void Run();
    // True when the receiver answered 2xx; otherwise `error` says what happened.
    bool Post(void* curl, const WebhookEvent& event, std::string& error);

    const std::string m_strStorePath, m_strUrl, m_strSecret;
    const long long m_maxBackoffMs;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_bStop{false};
};
