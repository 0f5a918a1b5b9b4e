#include "webhook/WebhookSender.h"

#include "link/Journal.h"
#include "state/StateStore.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr long kConnectTimeoutMs = 5000;
constexpr long kTransferTimeoutMs = 10000;
// How often the queue is looked at while it is empty, or while the store cannot be opened.
constexpr long long kIdleMs = 500;
constexpr long long kReopenMs = 5000;
constexpr long long kFirstBackoffMs = 1000;

long long WallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// The receiver's answer is not needed: it is read and thrown away.
size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// Called by curl during a transfer: a stop request aborts it.
int Abort(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

}  // namespace

std::string WebhookSignature(const std::string& secret, const std::string& body) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()), reinterpret_cast<const unsigned char*>(body.data()),
         body.size(), digest, &size);
    static const char digits[] = "0123456789abcdef";
    std::string signature = "sha256=";
    for (unsigned int i = 0; i < size; ++i) {
        signature += digits[digest[i] >> 4];
        signature += digits[digest[i] & 0xF];
    }
    return signature;
}

long long WebhookBackoffMs(int attempts, long long maxMs) {
    long long wait = kFirstBackoffMs;
    for (int i = 1; i < attempts && wait < maxMs; ++i) wait *= 2;
    return std::min(wait, maxMs);
}

CWebhookSender::CWebhookSender(std::string storePath, std::string url, std::string secret, long long maxBackoffMs)
    : m_strStorePath(std::move(storePath)),
      m_strUrl(std::move(url)),
      m_strSecret(std::move(secret)),
      m_maxBackoffMs(maxBackoffMs) {}

CWebhookSender::~CWebhookSender() { Stop(); }

void CWebhookSender::Start() {
    if (m_thread.joinable()) return;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_bStop = false;
    m_thread = std::thread([this] { Run(); });
}

void CWebhookSender::RequestStop() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
}

void CWebhookSender::Stop() {
    RequestStop();
    if (m_thread.joinable()) m_thread.join();
}

void CWebhookSender::Run() {
    CStateStore store;
    CURL* curl = curl_easy_init();
    bool failing = false;  // the receiver's trouble is journalled once, and its recovery
    bool started = true;   // the first post of a run is tried at once: a restart often follows a fix
    std::string error;
    std::unique_lock lock(m_mutex);
    while (!m_bStop) {
        long long waitMs = 0;
        lock.unlock();
        WebhookEvent event;
        if (!store.IsOpen() && !store.Open(m_strStorePath, error)) {
            Journal(JOURNAL_ERR, "webhooks: %s", error.c_str());
            waitMs = kReopenMs;
        } else if (!store.NextEvent(event)) {
            waitMs = kIdleMs;
        } else if (const long long now = WallMs();
                   !started && event.nextTryMs > now && event.nextTryMs - now <= m_maxBackoffMs) {
            // Nothing may pass the oldest event. (A try further off than the longest back-off
            // was set before the clock went back: it is due.)
            waitMs = event.nextTryMs - now;
        } else {
            started = false;
            if (Post(curl, event, error)) {
                if (failing) Journal(JOURNAL_NOTICE, "webhooks: the receiver takes events again");
                failing = false;
                if (!store.DropEvent(event.id))
                    Journal(JOURNAL_ERR, "webhooks: event %s delivered but still queued: %s", event.eventId.c_str(),
                            store.LastError().c_str());
            } else if (!m_bStop) {
                const int attempts = event.attempts + 1;
                waitMs = WebhookBackoffMs(attempts, m_maxBackoffMs);
                if (!failing)
                    Journal(JOURNAL_WARNING,
                            "webhooks: the receiver did not take event %s (%s); it is tried again, with %lld queued",
                            event.eventId.c_str(), error.c_str(), store.CountEvents());
                failing = true;
                store.PostponeEvent(event.id, attempts, now + waitMs);
            }
        }
        lock.lock();
        if (waitMs > 0) m_wake.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return m_bStop.load(); });
    }
    lock.unlock();
    curl_easy_cleanup(curl);
}

bool CWebhookSender::Post(void* handle, const WebhookEvent& event, std::string& error) {
    CURL* curl = static_cast<CURL*>(handle);
    if (!curl) {
        error = "libcurl could not be set up";
        return false;
    }
    curl_easy_reset(curl);
    const std::string signature = "X-Pellwick-Signature: " + WebhookSignature(m_strSecret, event.body);
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    headers = curl_slist_append(headers, signature.c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_URL, m_strUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, event.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(event.body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Abort);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &m_bStop);
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    if (code != CURLE_OK) {
        error = curl_easy_strerror(code);
        return false;
    }
    error = "HTTP status " + std::to_string(status);
    return status >= 200 && status < 300;
}
