#pragma once
// The embedded HTTP server, on libmicrohttpd: maintained, packaged in Debian, a plain C
// API, small, and it bounds what a client can take (connections in all and per address,
// idle time, header memory). Two threads, whatever the number of clients: one waits on all
// sockets with epoll and answers what the gateway holds in memory (the page, /metrics,
// /health, refusals); the other makes the message API's database calls one after another
// while their connections are parked, so a slow database holds up neither the others nor
// the gateway's health. A thread per connection cost memory for nothing: the calls go to
// one database connection in turn anyway. Requests are answered by CHttpApi.
#include "http/HttpApi.h"
#include "http/HttpConfig.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct MHD_Connection;
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
    struct Parked {
        MHD_Connection* connection;
        Exchange* exchange;
    };
    HttpResponse AnswerSafely(const HttpRequest& request);
    // Parks a connection for the database thread; false once it stops taking any.
    bool Park(MHD_Connection* connection, Exchange* exchange);
    void AnswerParked();  // the database thread

    IHttpBackend& m_backend;
    std::unique_ptr<CHttpApi> m_api;
    std::size_t m_nMaxBody = 0;
    unsigned m_nTimeoutSeconds = 0;
    MHD_Daemon* m_daemon = nullptr;
    std::atomic<bool> m_bStarting{false};
    std::mutex m_logMutex;        // guards the members below
    std::string m_strStartError;  // what the library said while it started
    std::chrono::steady_clock::time_point m_nextLog;
    int m_nSuppressedLogs = 0;

    std::thread m_dbThread;
    std::mutex m_parkedMutex;  // guards the three below
    std::condition_variable m_parkedChanged;
    std::deque<Parked> m_parked;
    bool m_bParking = false;  // the database thread takes connections
    int m_nResumed = 0;       // connections answered by it whose answer is not yet sent
};
