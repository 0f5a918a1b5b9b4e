#pragma once
// The embedded HTTP server, on libmicrohttpd: maintained, packaged in Debian, a plain C
// API, small, and it bounds what a client can take (connections in all and per address,
// idle time, header memory). Each connection has a thread of its own that waits on its
// socket with poll, so descriptor numbers above 1024 are no problem and a backend call
// that takes its time (a slow database) holds up only its own client. Requests are
// answered by CHttpApi.
#include "http/HttpApi.h"
#include "http/HttpConfig.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

struct MHD_Daemon;

class CHttpServer {
public:
    explicit CHttpServer(IHttpBackend& backend);
    ~CHttpServer();
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;

    // Starts listening as the configuration says. "" when it runs, or when config.listen is
    // empty (the interface is off); otherwise why it does not run (a bad address, no token,
    // the address taken), and nothing listens.
    std::string Start(const HttpConfig& config);
    // Stops listening; returns once the requests under way are answered.
    void Stop();
    bool Running() const { return m_daemon != nullptr; }
    // The port it listens on (the one chosen when the configuration said 0); 0 when stopped.
    unsigned Port() const;

private:
    struct Exchange;
    struct Callbacks;  // the library's callbacks, in HttpServer.cpp
    HttpResponse AnswerSafely(const HttpRequest& request);

    IHttpBackend& m_backend;
    std::unique_ptr<CHttpApi> m_api;
    std::size_t m_nMaxBody = 0;
    MHD_Daemon* m_daemon = nullptr;
    std::atomic<bool> m_bStarting{false};
    std::mutex m_logMutex;        // guards the members below
    std::string m_strStartError;  // what the library said while it started
    std::chrono::steady_clock::time_point m_nextLog;
    int m_nSuppressedLogs = 0;
};
