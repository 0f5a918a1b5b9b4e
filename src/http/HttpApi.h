#pragma once
// The HTTP interface's answers, free of any server library: authentication, routes and
// the JSON of the message API. The server hands it each request in two steps, so a
// request that is refused on its head never has its body read.
#include "http/HttpBackend.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct HttpRequest {
    std::string method;
    std::string path;           // decoded, without the query
    std::string authorization;  // the Authorization header, "" when absent
    std::optional<unsigned long long> contentLength;
    std::string body;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

class CHttpApi {
public:
    static constexpr std::size_t MAX_TEXT_CHARS = 1000;  // UTF-8 characters of a message text
    static constexpr std::size_t MAX_ID_CHARS = 64;

    // token must not be empty: an empty one would let nobody in.
    CHttpApi(IHttpBackend& backend, std::string token, std::size_t maxBody);

    // Decides what the request line and headers decide: 401 without the token, 404, 405,
    // 413 for a declared length over the limit. Nothing when the request goes on.
    std::optional<HttpResponse> Admit(const HttpRequest& request) const;
    // Answers a request Admit let through, its body complete.
    HttpResponse Answer(const HttpRequest& request);
    // Whether answering it waits on the database (the message API), rather than only
    // reading what the gateway holds in memory.
    static bool UsesDatabase(const HttpRequest& request);
    // The answer to a body that grew past the limit as it came.
    HttpResponse TooLarge() const;

    // Whether an Authorization header carries the token: "Bearer TOKEN", or Basic with any
    // user and the token as password. Compared in constant time.
    bool Authorized(const std::string& authorization) const;

private:
    HttpResponse PostMessage(const std::string& body);
    HttpResponse GetMessage(const std::string& id);
    HttpResponse Health();

    IHttpBackend& m_backend;
    std::string m_strToken;
    std::size_t m_nMaxBody;
};

// {"error": text}
std::string JsonError(const std::string& text);
