#include "http/HttpServer.h"

#include "link/Journal.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <unistd.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

struct CHttpServer::Exchange {
    HttpRequest request;
    bool tooLarge = false;  // the body grew past the limit: the rest is dropped unread
    std::optional<HttpResponse> answer;  // the database thread's, for a parked connection
};

struct CHttpServer::Callbacks {
    static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url, const char* method,
                                const char* version, const char* uploadData, std::size_t* uploadSize, void** context);
    static void OnCompleted(void* self, MHD_Connection* connection, void** context, MHD_RequestTerminationCode code);
    static void OnLog(void* self, const char* format, va_list args);
};

namespace {

MHD_Result Queue(MHD_Connection* connection, const HttpResponse& answer) {
    MHD_Response* response = MHD_create_response_from_buffer(answer.body.size(), const_cast<char*>(answer.body.data()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (!response) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    for (const auto& [name, value] : answer.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
    MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return result;
}

HttpResponse Stopping() { return {503, "application/json", JsonError("the HTTP interface is stopping"), {}}; }

}  // namespace

CHttpServer::CHttpServer(IHttpBackend& backend) : m_backend(backend) {}

CHttpServer::~CHttpServer() { Stop(); }

std::string CHttpServer::Start(const HttpConfig& config) {
    Stop();
    if (config.listen.empty()) return "";
    if (config.token.empty())
        return "http_listen is set but http_token is empty: the HTTP interface does not start without a token";
    std::string error;
    std::optional<ListenAddress> address = ParseListenAddress(config.listen, error);
    if (!address) return error;

    sockaddr_storage storage{};
    if (address->ipv6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<uint16_t>(address->port));
        inet_pton(AF_INET6, address->host.c_str(), &in6->sin6_addr);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(static_cast<uint16_t>(address->port));
        inet_pton(AF_INET, address->host.c_str(), &in4->sin_addr);
    }
    m_api = std::make_unique<CHttpApi>(m_backend, config.token, config.maxBody);
    m_nMaxBody = config.maxBody;
    m_nTimeoutSeconds = config.timeoutSeconds;
    {
        std::lock_guard lock(m_logMutex);
        m_strStartError.clear();
    }
    m_bParking = true;
    m_dbThread = std::thread(&CHttpServer::AnswerParked, this);
    m_bStarting = true;
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG |
                     (address->ipv6 ? MHD_USE_IPv6 : 0);
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Callbacks::OnRequest, this, MHD_OPTION_SOCK_ADDR,
                                reinterpret_cast<sockaddr*>(&storage), MHD_OPTION_CONNECTION_LIMIT,
                                static_cast<unsigned>(config.maxConnections), MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                                static_cast<unsigned>(config.maxConnectionsPerIp), MHD_OPTION_CONNECTION_TIMEOUT,
                                static_cast<unsigned>(config.timeoutSeconds), MHD_OPTION_NOTIFY_COMPLETED,
                                &Callbacks::OnCompleted, this, MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::OnLog, this,
                                MHD_OPTION_END);
    m_bStarting = false;
    if (m_daemon) return "";
    Stop();
    std::lock_guard lock(m_logMutex);
    return "cannot listen on " + config.listen + (m_strStartError.empty() ? "" : ": " + m_strStartError);
}

void CHttpServer::Stop() {
    // No new connections; the parked ones are answered (the call under way first) and let
    // go: the library must not be stopped with one of them parked. Their answers are sent
    // before it stops, so that a client whose message was queued learns its id.
    const MHD_socket listening = m_daemon ? MHD_quiesce_daemon(m_daemon) : MHD_INVALID_SOCKET;
    {
        std::lock_guard lock(m_parkedMutex);
        m_bParking = false;
    }
    m_parkedChanged.notify_all();
    if (m_dbThread.joinable()) m_dbThread.join();
    {
        std::unique_lock lock(m_parkedMutex);
        m_parkedChanged.wait_for(lock, std::chrono::seconds(m_nTimeoutSeconds + 1), [this] { return m_nResumed == 0; });
    }
    if (m_daemon) MHD_stop_daemon(m_daemon);
    if (listening != MHD_INVALID_SOCKET) ::close(listening);
    m_daemon = nullptr;
    m_api.reset();
}

unsigned CHttpServer::Port() const {
    if (!m_daemon) return 0;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

MHD_Result CHttpServer::Callbacks::OnRequest(void* self, MHD_Connection* connection, const char* url,
                                             const char* method, const char* /*version*/, const char* uploadData,
                                             std::size_t* uploadSize, void** context) {
    auto* server = static_cast<CHttpServer*>(self);
    auto* exchange = static_cast<Exchange*>(*context);
    if (!exchange) {
        // The head: decide what it decides before any of the body is read.
        exchange = new Exchange;
        *context = exchange;
        HttpRequest& request = exchange->request;
        request.method = method;
        request.path = url;
        const char* authorization =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
        request.authorization = authorization ? authorization : "";
        const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (length) request.contentLength = std::strtoull(length, nullptr, 10);
        if (std::optional<HttpResponse> refusal = server->m_api->Admit(request)) return Queue(connection, *refusal);
        return MHD_YES;
    }
    if (*uploadSize) {
        // A body without a declared length (chunked) may grow past the limit: from then on
        // it is dropped as it comes, and answered when it has ended.
        std::string& body = exchange->request.body;
        if (!exchange->tooLarge && body.size() + *uploadSize <= server->m_nMaxBody) {
            body.append(uploadData, *uploadSize);
        } else if (!exchange->tooLarge) {
            exchange->tooLarge = true;
            std::string().swap(body);
        }
        *uploadSize = 0;
        return MHD_YES;
    }
    if (exchange->answer) return Queue(connection, *exchange->answer);
    if (exchange->tooLarge) return Queue(connection, server->m_api->TooLarge());
    if (CHttpApi::UsesDatabase(exchange->request))
        return server->Park(connection, exchange) ? MHD_YES : Queue(connection, Stopping());
    return Queue(connection, server->AnswerSafely(exchange->request));
}

bool CHttpServer::Park(MHD_Connection* connection, Exchange* exchange) {
    std::lock_guard lock(m_parkedMutex);
    if (!m_bParking) return false;
    MHD_suspend_connection(connection);
    m_parked.push_back({connection, exchange});
    m_parkedChanged.notify_one();
    return true;
}

void CHttpServer::AnswerParked() {
    std::unique_lock lock(m_parkedMutex);
    for (;;) {
        m_parkedChanged.wait(lock, [this] { return !m_parked.empty() || !m_bParking; });
        if (m_parked.empty()) return;
        const Parked next = m_parked.front();
        m_parked.pop_front();
        const bool stopping = !m_bParking;
        lock.unlock();
        // Once resumed, the connection is the library's again: its exchange is not touched after.
        next.exchange->answer = stopping ? Stopping() : AnswerSafely(next.exchange->request);
        lock.lock();
        ++m_nResumed;
        MHD_resume_connection(next.connection);
    }
}

HttpResponse CHttpServer::AnswerSafely(const HttpRequest& request) {
    try {
        return m_api->Answer(request);
    } catch (const std::exception& e) {
        Journal(JOURNAL_ERR, "HTTP: a %s request failed: %s", request.method.c_str(), e.what());
    }
    return {500, "application/json", JsonError("internal error"), {}};
}

void CHttpServer::Callbacks::OnCompleted(void* self, MHD_Connection* /*connection*/, void** context,
                                         MHD_RequestTerminationCode /*code*/) {
    auto* exchange = static_cast<Exchange*>(*context);
    if (exchange && exchange->answer) {
        auto* server = static_cast<CHttpServer*>(self);
        std::lock_guard lock(server->m_parkedMutex);
        if (--server->m_nResumed == 0) server->m_parkedChanged.notify_all();
    }
    delete exchange;
    *context = nullptr;
}

void CHttpServer::Callbacks::OnLog(void* self, const char* format, va_list args) {
    auto* server = static_cast<CHttpServer*>(self);
    va_list copy;
    va_copy(copy, args);
    std::string line(std::max(0, std::vsnprintf(nullptr, 0, format, copy)), '\0');
    va_end(copy);
    std::vsnprintf(line.data(), line.size() + 1, format, args);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();

    std::lock_guard lock(server->m_logMutex);
    if (server->m_bStarting) {
        server->m_strStartError += (server->m_strStartError.empty() ? "" : "; ") + line;
        return;
    }
    // While it runs (a client past the limit, a thread that could not start): one line a
    // minute at most, so a flood of connections does not become a flood of journal lines.
    auto now = std::chrono::steady_clock::now();
    if (now < server->m_nextLog) {
        ++server->m_nSuppressedLogs;
        return;
    }
    Journal(JOURNAL_WARNING, "HTTP: %s (%d similar lines before not shown)", line.c_str(), server->m_nSuppressedLogs);
    server->m_nSuppressedLogs = 0;
    server->m_nextLog = now + std::chrono::minutes(1);
}
