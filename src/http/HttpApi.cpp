#include "http/HttpApi.h"

#include "http/Metrics.h"
#include "http/StatusPage.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <set>
#include <string_view>

using nlohmann::json;

namespace {

enum class Route { None, Page, Health, Metrics, Messages, Message };

struct Match {
    Route route = Route::None;
    const char* allow = "";
    std::string id;  // of /v1/messages/ID
};

Match Resolve(const std::string& path) {
    static const std::string messagePrefix = "/v1/messages/";
    if (path == "/") return {Route::Page, "GET, HEAD", {}};
    if (path == "/health") return {Route::Health, "GET, HEAD", {}};
    if (path == "/metrics") return {Route::Metrics, "GET, HEAD", {}};
    if (path == "/v1/messages") return {Route::Messages, "POST", {}};
    if (path.starts_with(messagePrefix)) return {Route::Message, "GET, HEAD", path.substr(messagePrefix.size())};
    return {};
}

bool Allows(const char* allow, const std::string& method) {
    std::string_view list = allow;
    for (std::size_t start = 0; start < list.size();) {
        std::size_t end = list.find(", ", start);
        if (list.substr(start, end - start) == method) return true;
        if (end == std::string_view::npos) break;
        start = end + 2;
    }
    return false;
}

std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

HttpResponse Json(int status, const json& value) { return {status, "application/json", Dump(value), {}}; }

HttpResponse Error(int status, const std::string& text) { return {status, "application/json", JsonError(text), {}}; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Standard base64 with padding; nothing for anything else.
std::optional<std::string> DecodeBase64(std::string_view text) {
    static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    unsigned bits = 0;
    int count = 0;
    std::size_t padding = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=') {
            if (i + 2 < text.size()) return std::nullopt;  // padding only in the last two places
            ++padding;
            continue;
        }
        std::size_t value = alphabet.find(text[i]);
        if (padding || value == std::string_view::npos) return std::nullopt;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// Equal secrets, in a time that depends only on the length of the one presented, never on
// the token's content or length. A plain loop rather than a digest: hashing every request
// brought a large part of libcrypto into memory for nothing.
bool SameSecret(const std::string& presented, const std::string& token) {
    if (token.empty()) return false;
    unsigned char difference = presented.size() == token.size() ? 0 : 1;
    for (std::size_t i = 0; i < presented.size(); ++i)
        difference |= static_cast<unsigned char>(presented[i] ^ token[i % token.size()]);
    return difference == 0;
}

bool ValidNumber(const std::string& number) {
    std::size_t digits = number.size() - (number.starts_with('+') ? 1 : 0);
    if (digits < 3 || digits > 20) return false;
    return number.find_first_not_of("0123456789", number.size() - digits) == std::string::npos;
}

std::size_t Utf8Length(const std::string& text) {
    std::size_t count = 0;
    for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

bool ValidId(const std::string& id) {
    if (id.empty() || id.size() > CHttpApi::MAX_ID_CHARS) return false;
    for (char c : id) {
        if (c <= ' ' || c > '~' || c == '/') return false;
    }
    return true;
}

}  // namespace

std::string JsonError(const std::string& text) { return Dump(json{{"error", text}}); }

CHttpApi::CHttpApi(IHttpBackend& backend, std::string token, std::size_t maxBody)
    : m_backend(backend), m_strToken(std::move(token)), m_nMaxBody(maxBody) {}

bool CHttpApi::Authorized(const std::string& authorization) const {
    if (m_strToken.empty()) return false;
    std::size_t space = authorization.find(' ');
    if (space == std::string::npos) return false;
    std::string_view scheme = std::string_view(authorization).substr(0, space);
    std::string_view credentials = std::string_view(authorization).substr(space + 1);
    while (credentials.starts_with(' ')) credentials.remove_prefix(1);
    if (EqualsNoCase(scheme, "Bearer")) return SameSecret(std::string(credentials), m_strToken);
    if (!EqualsNoCase(scheme, "Basic")) return false;
    std::optional<std::string> userPassword = DecodeBase64(credentials);
    std::size_t colon = userPassword ? userPassword->find(':') : std::string::npos;
    return colon != std::string::npos && SameSecret(userPassword->substr(colon + 1), m_strToken);
}

std::optional<HttpResponse> CHttpApi::Admit(const HttpRequest& request) const {
    Match match = Resolve(request.path);
    if (match.route != Route::Health && !Authorized(request.authorization)) {
        HttpResponse response = Error(401, "authentication required");
        response.headers.emplace_back("WWW-Authenticate", "Basic realm=\"Pellwick\"");
        return response;
    }
    if (match.route == Route::None) return Error(404, "not found");
    if (!Allows(match.allow, request.method)) {
        HttpResponse response = Error(405, "method not allowed");
        response.headers.emplace_back("Allow", match.allow);
        return response;
    }
    if (request.contentLength && *request.contentLength > m_nMaxBody) return TooLarge();
    return std::nullopt;
}

HttpResponse CHttpApi::TooLarge() const {
    return Error(413, "the body is longer than " + std::to_string(m_nMaxBody) + " bytes");
}

bool CHttpApi::UsesDatabase(const HttpRequest& request) {
    const Route route = Resolve(request.path).route;
    return route == Route::Messages || route == Route::Message;
}

HttpResponse CHttpApi::Answer(const HttpRequest& request) {
    Match match = Resolve(request.path);
    switch (match.route) {
    case Route::Page:
        // The page needs nothing from anywhere: the browser is told to load nothing else.
        return {200,
                "text/html; charset=utf-8",
                RenderStatusPage(m_backend.Snapshot()),
                {{"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'"}}};
    case Route::Health: return Health();
    case Route::Metrics:
        return {200, "text/plain; version=0.0.4; charset=utf-8", RenderMetrics(m_backend.Snapshot()), {}};
    case Route::Messages: return PostMessage(request.body);
    case Route::Message: return GetMessage(match.id);
    case Route::None: break;
    }
    return Error(404, "not found");
}

HttpResponse CHttpApi::PostMessage(const std::string& body) {
    // A flat object of two strings: the callback refuses nesting before it is built and
    // notices a repeated key, which the parser itself would let the last one win.
    std::string problem;
    std::set<std::string> keys;
    json::parser_callback_t check = [&](int depth, json::parse_event_t event, json& parsed) {
        if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) && depth > 0) {
            if (problem.empty()) problem = "the fields \"to\" and \"text\" must be strings";
            return false;
        }
        if (event == json::parse_event_t::key && depth == 1 && !keys.insert(parsed.get<std::string>()).second) {
            if (problem.empty()) problem = "field " + Dump(parsed) + " given twice";
        }
        return true;
    };
    json doc = json::parse(body, check, false);
    if (!problem.empty()) return Error(400, problem);
    if (doc.is_discarded()) return Error(400, "the body is not valid JSON");
    if (!doc.is_object()) return Error(400, "the body must be a JSON object {\"to\": ..., \"text\": ...}");
    for (const auto& [key, value] : doc.items()) {
        if (key != "to" && key != "text") return Error(400, "unknown field " + Dump(key));
        if (!value.is_string()) return Error(400, "the field " + Dump(key) + " must be a string");
    }
    if (!doc.contains("to") || !doc.contains("text")) return Error(400, "the fields \"to\" and \"text\" are required");
    std::string to = doc["to"], text = doc["text"];
    if (!ValidNumber(to)) return Error(400, "\"to\" must be a number of 3 to 20 digits, optionally after a +");
    if (text.empty()) return Error(400, "\"text\" is empty");
    if (Utf8Length(text) > MAX_TEXT_CHARS)
        return Error(400, "\"text\" is longer than " + std::to_string(MAX_TEXT_CHARS) + " characters");
    if (text.find('\0') != std::string::npos) return Error(400, "\"text\" contains a NUL character");

    SendResult result = m_backend.Send(to, text);
    if (!result.queued) return Error(503, result.error.empty() ? "the message could not be queued" : result.error);
    return Json(201, json{{"id", result.id}});
}

HttpResponse CHttpApi::GetMessage(const std::string& id) {
    if (!ValidId(id))
        return Error(400, "a message id is 1 to " + std::to_string(MAX_ID_CHARS) + " printable characters");
    StatusResult result = m_backend.Status(id);
    switch (result.outcome) {
    case StatusResult::Outcome::Found: return Json(200, json{{"id", id}, {"status", result.status}});
    case StatusResult::Outcome::NotFound: return Error(404, "no such message");
    case StatusResult::Outcome::Unavailable: break;
    }
    return Error(503, result.error.empty() ? "the status cannot be read now" : result.error);
}

HttpResponse CHttpApi::Health() {
    GatewaySnapshot snapshot = m_backend.Snapshot();
    json reasons = json::array();
    if (!snapshot.modemUp) reasons.push_back("modem down");
    if (!snapshot.databaseUp) reasons.push_back("database down");
    if (reasons.empty()) return Json(200, json{{"status", "ok"}});
    return Json(503, json{{"status", "down"}, {"reasons", reasons}});
}
