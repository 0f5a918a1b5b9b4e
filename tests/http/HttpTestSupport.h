#pragma once
// A libcurl client and a fake backend for the HTTP server's tests.
#include "http/HttpBackend.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct Call {
    std::string method = "GET";
    std::string path = "/";
    std::string body{};
    std::vector<std::string> headers{};  // "Name: value"
    std::string basic{};                 // "user:password" for Basic auth
    bool chunked = false;                // send the body without a declared length
};

struct Reply {
    long status = 0;  // 0: no answer (connection refused or reset)
    std::string body;
    std::map<std::string, std::string> headers;  // names in lower case
};

// Before any thread: curl_easy_init would do it itself, but not thread-safely.
inline const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;

inline Reply Fetch(const std::string& host, unsigned port, const Call& call) {
    Reply reply;
    CURL* curl = curl_easy_init();
    std::string url = "http://" + host + ":" + std::to_string(port) + call.path;
    curl_slist* headers = nullptr;
    for (const std::string& header : call.headers) headers = curl_slist_append(headers, header.c_str());
    std::string_view unsent = call.body;
    auto read = [](char* buffer, std::size_t size, std::size_t count, void* rest) -> std::size_t {
        std::size_t n = static_cast<std::string_view*>(rest)->copy(buffer, size * count);
        static_cast<std::string_view*>(rest)->remove_prefix(n);
        return n;
    };
    auto write = [](char* data, std::size_t size, std::size_t count, void* out) -> std::size_t {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    };
    auto header = [](char* data, std::size_t size, std::size_t count, void* out) -> std::size_t {
        std::string line(data, size * count);
        std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon), value = line.substr(colon + 1);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            value.erase(0, value.find_first_not_of(' '));
            value.erase(value.find_last_not_of("\r\n") + 1);
            (*static_cast<std::map<std::string, std::string>*>(out))[name] = value;
        }
        return size * count;
    };
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, call.method.c_str());
    if (call.chunked) {
        headers = curl_slist_append(headers, "Transfer-Encoding: chunked");
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, +read);
        curl_easy_setopt(curl, CURLOPT_READDATA, &unsent);
    } else if (!call.body.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.body.size()));
    }
    if (!call.basic.empty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(curl, CURLOPT_USERPWD, call.basic.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, +header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_EXPECT_100_TIMEOUT_MS, 60000L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

// A loopback port nobody listens on at the moment.
inline unsigned FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Records what the server asks and answers what the test set.
class CFakeBackend : public IHttpBackend {
public:
    SendResult Send(const std::string& to, const std::string& text) override {
        if (onSend) onSend();
        std::lock_guard lock(mutex);
        sends.emplace_back(to, text);
        return sendResult;
    }
    StatusResult Status(const std::string& id) override {
        std::lock_guard lock(mutex);
        asked.push_back(id);
        if (databaseDown) return {StatusResult::Outcome::Unavailable, 0, "database down"};
        auto row = rows.find(id);
        if (row == rows.end()) return {StatusResult::Outcome::NotFound, 0, ""};
        return {StatusResult::Outcome::Found, row->second, ""};
    }
    GatewaySnapshot Snapshot() override {
        std::lock_guard lock(mutex);
        return snapshot;
    }

    std::function<void()> onSend;  // set before the server starts: runs first in every Send
    std::mutex mutex;
    SendResult sendResult{true, "17", ""};
    std::vector<std::pair<std::string, std::string>> sends;
    std::map<std::string, int> rows;
    bool databaseDown = false;
    std::vector<std::string> asked;
    GatewaySnapshot snapshot;
};
