// The HTTP interface end to end over loopback: a real server, a real client, a fake backend.
#include "HttpTestSupport.h"
#include "http/HttpServer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <algorithm>
#include <sstream>
#include <thread>

using nlohmann::json;

namespace {

const std::string TOKEN = "s3cret-Token";
const std::string BEARER = "Authorization: Bearer " + TOKEN;

class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(server.Start(config), ""); }
    Reply Get(const std::string& path) { return Fetch("127.0.0.1", server.Port(), {"GET", path, "", {BEARER}}); }
    Reply Post(const std::string& body) {
        return Fetch("127.0.0.1", server.Port(), {"POST", "/v1/messages", body, {BEARER}});
    }

    HttpConfig config{"127.0.0.1:0", TOKEN};
    CFakeBackend backend;
    CHttpServer server{backend};
};

TEST_F(HttpServerTest, EveryPathButHealthAsksForTheToken) {
    struct Case {
        const char* name;
        std::string method, path, header, basic;
        long status;
        std::string allow = "";
    } cases[] = {
        {"no credentials", "GET", "/metrics", "", "", 401},
        {"wrong bearer", "GET", "/metrics", "Authorization: Bearer wrong", "", 401},
        {"bearer of a prefix", "GET", "/metrics", "Authorization: Bearer s3cret-Toke", "", 401},
        {"right bearer", "GET", "/metrics", BEARER, "", 200},
        {"scheme in lower case", "GET", "/metrics", "Authorization: bearer " + TOKEN, "", 200},
        {"basic, any user", "GET", "/", "", "operator:" + TOKEN, 200},
        {"basic, wrong password", "GET", "/", "", "operator:wrong", 401},
        {"basic, token as user", "GET", "/", "", TOKEN + ":", 401},
        {"basic, not base64", "GET", "/", "Authorization: Basic !!!!", "", 401},
        {"other scheme", "GET", "/", "Authorization: Digest " + TOKEN, "", 401},
        {"health without credentials", "GET", "/health", "", "", 200},
        {"unknown path, no credentials", "GET", "/admin", "", "", 401},
        {"unknown path", "GET", "/admin", BEARER, "", 404},
        {"post to a message", "POST", "/v1/messages/17", BEARER, "", 405, "GET, HEAD"},
        {"get the collection", "GET", "/v1/messages", BEARER, "", 405, "POST"},
        {"delete the metrics", "DELETE", "/metrics", BEARER, "", 405, "GET, HEAD"},
    };
    backend.snapshot.modemUp = backend.snapshot.databaseUp = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Call call{c.method, c.path, "", {}, c.basic};
        if (!c.header.empty()) call.headers.push_back(c.header);
        Reply reply = Fetch("127.0.0.1", server.Port(), call);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.headers["www-authenticate"], c.status == 401 ? "Basic realm=\"Pellwick\"" : "");
        EXPECT_EQ(reply.headers["allow"], c.allow);
        EXPECT_EQ(json::parse(reply.body, nullptr, false).contains("error"), c.status >= 400) << reply.body;
    }
}

TEST_F(HttpServerTest, PostQueuesAGoodMessageAndRefusesEverythingElse) {
    const std::string longest(CHttpApi::MAX_TEXT_CHARS, 'x');
    std::string longestUnicode;
    for (std::size_t i = 0; i < CHttpApi::MAX_TEXT_CHARS; ++i) longestUnicode += "\xC3\xA4";  // ä
    struct Case {
        const char* name;
        std::string body;
        long status;
        std::string text;  // what the backend receives when queued
    } cases[] = {
        {"good", R"({"to": "+4917112345567", "text": "Gr\u00fc\u00dfe \"x\" <b>"})", 201, "Grüße \"x\" <b>"},
        {"longest text", R"({"to": "123", "text": ")" + longest + "\"}", 201, longest},
        {"longest in two-byte characters", R"({"to": "123", "text": ")" + longestUnicode + "\"}", 201, longestUnicode},
        {"text too long", R"({"to": "123", "text": ")" + longest + "y\"}", 400, ""},
        {"not JSON", R"({"to": "+4917112345567", "text": )", 400, ""},
        {"not UTF-8", "{\"to\": \"123\", \"text\": \"\xC3\x28\"}", 400, ""},
        {"empty body", "", 400, ""},
        {"text missing", R"({"to": "+4917112345567"})", 400, ""},
        {"number as a number", R"({"to": 4917112345567, "text": "hi"})", 400, ""},
        {"text nested", R"({"to": "123", "text": {"a": "hi"}})", 400, ""},
        {"field unknown", R"({"to": "123", "text": "hi", "from": "x"})", 400, ""},
        {"field twice", R"({"to": "123", "text": "hi", "to": "456"})", 400, ""},
        {"number with a dash", R"({"to": "+49-171", "text": "hi"})", 400, ""},
        {"number too short", R"({"to": "12", "text": "hi"})", 400, ""},
        {"text empty", R"({"to": "123", "text": ""})", 400, ""},
        {"text with NUL", R"({"to": "123", "text": "a\u0000b"})", 400, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        backend.sends.clear();
        Reply reply = Post(c.body);
        EXPECT_EQ(reply.status, c.status) << reply.body;
        EXPECT_EQ(reply.headers["content-type"], "application/json");
        json answer = json::parse(reply.body);
        if (c.status == 201) {
            EXPECT_EQ(answer, json({{"id", "17"}}));
            ASSERT_EQ(backend.sends.size(), 1u);
            EXPECT_EQ(backend.sends[0].second, c.text);
        } else {
            EXPECT_TRUE(answer["error"].is_string());
            EXPECT_TRUE(backend.sends.empty());
        }
    }
    backend.sends.clear();
    backend.sendResult = {false, "", "the database is not connected"};
    Reply down = Post(R"({"to": "123", "text": "hi"})");
    EXPECT_EQ(down.status, 503);
    EXPECT_EQ(json::parse(down.body), json({{"error", "the database is not connected"}}));
}

TEST_F(HttpServerTest, ABodyOverTheLimitIsRefusedUnread) {
    const std::string body = R"({"to": "123", "text": ")" + std::string(config.maxBody, 'x') + "\"}";
    // Declared, the client waits for the go-ahead, as clients do with large bodies.
    Reply declared =
        Fetch("127.0.0.1", server.Port(), {"POST", "/v1/messages", body, {BEARER, "Expect: 100-continue"}});
    EXPECT_EQ(declared.status, 413);
    Reply chunked = Fetch("127.0.0.1", server.Port(), {"POST", "/v1/messages", body, {BEARER}, "", true});
    EXPECT_EQ(chunked.status, 413);
    Reply small = Fetch("127.0.0.1", server.Port(),
                        {"POST", "/v1/messages", R"({"to": "123", "text": "hi"})", {BEARER}, "", true});
    EXPECT_EQ(small.status, 201);
    EXPECT_EQ(backend.sends.size(), 1u);
}

TEST_F(HttpServerTest, GetAnswersTheStatusOfARow) {
    backend.rows = {{"17", 1}, {"x'or'1", 0}};
    struct Case {
        const char* name;
        std::string path;
        long status;
        json answer;
        std::string asked;  // the id the backend receives
    } cases[] = {
        {"found", "/v1/messages/17", 200, {{"id", "17"}, {"status", 1}}, "17"},
        {"quote passed as a value", "/v1/messages/x%27or%271", 200, {{"id", "x'or'1"}, {"status", 0}}, "x'or'1"},
        {"no such row", "/v1/messages/18", 404, {{"error", "no such message"}}, "18"},
        {"id too long", "/v1/messages/" + std::string(65, '1'), 400, nullptr, ""},
        {"id with a slash", "/v1/messages/1/2", 400, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        backend.asked.clear();
        Reply reply = Get(c.path);
        EXPECT_EQ(reply.status, c.status);
        if (!c.answer.is_null()) {
            EXPECT_EQ(json::parse(reply.body), c.answer);
        }
        EXPECT_EQ(backend.asked, c.asked.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.asked});
    }
    backend.databaseDown = true;
    EXPECT_EQ(Get("/v1/messages/17").status, 503);
}

TEST_F(HttpServerTest, MetricsShowTheSnapshot) {
    GatewaySnapshot& s = backend.snapshot;
    s.sent = 12, s.failed = 3, s.unknown = 1, s.received = 40, s.rejected = 2, s.outboxPending = 5;
    s.modemUp = true, s.networkUp = true, s.signalQuality = 17, s.batteryPercent = -1, s.webhookQueueDepth = 9;
    for (double seconds : {0.003, 0.3, 0.4, 100.0}) s.submission.Observe(seconds);

    Reply reply = Get("/metrics");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["content-type"], "text/plain; version=0.0.4; charset=utf-8");
    std::map<std::string, std::string> types;
    std::map<std::string, double> values;
    std::istringstream lines(reply.body);
    for (std::string line; std::getline(lines, line);) {
        std::string name, type;
        if (line.starts_with("# TYPE ")) std::istringstream(line.substr(7)) >> name >> types[name];
        if (line.starts_with("#")) continue;
        std::size_t space = line.rfind(' ');
        name = line.substr(0, space);
        EXPECT_TRUE(std::any_of(types.begin(), types.end(), [&](const auto& t) { return name.starts_with(t.first); }))
            << "no TYPE before " << line;
        values[name] = std::stod(line.substr(space + 1));
    }
    const std::map<std::string, double> expected = {
        {"pellwick_messages_sent_total", 12},
        {"pellwick_messages_failed_total", 3},
        {"pellwick_messages_unknown_total", 1},
        {"pellwick_messages_received_total", 40},
        {"pellwick_messages_rejected_total", 2},
        {"pellwick_outbox_pending", 5},
        {"pellwick_link_up{link=\"modem\"}", 1},
        {"pellwick_link_up{link=\"database\"}", 0},
        {"pellwick_link_up{link=\"sim\"}", 0},
        {"pellwick_link_up{link=\"network\"}", 1},
        {"pellwick_signal_quality", 17},
        {"pellwick_webhook_queue_depth", 9},
        {"pellwick_submission_seconds_bucket{le=\"0.005\"}", 1},
        {"pellwick_submission_seconds_bucket{le=\"0.25\"}", 1},
        {"pellwick_submission_seconds_bucket{le=\"0.5\"}", 3},
        {"pellwick_submission_seconds_bucket{le=\"60\"}", 3},
        {"pellwick_submission_seconds_bucket{le=\"+Inf\"}", 4},
        {"pellwick_submission_seconds_count", 4},
    };
    for (const auto& [name, value] : expected) {
        ASSERT_TRUE(values.count(name)) << name;
        EXPECT_EQ(values[name], value) << name;
    }
    EXPECT_DOUBLE_EQ(values["pellwick_submission_seconds_sum"], 100.703);
    EXPECT_EQ(types["pellwick_messages_sent_total"], "counter");
    EXPECT_EQ(types["pellwick_link_up"], "gauge");
    EXPECT_EQ(types["pellwick_submission_seconds"], "histogram");
    EXPECT_FALSE(values.count("pellwick_battery_percent")) << "a value not known is left out";
}

TEST_F(HttpServerTest, HealthNeedsModemAndDatabase) {
    struct Case {
        bool modem, database;
        long status;
        json answer;
    } cases[] = {
        {true, true, 200, {{"status", "ok"}}},
        {false, true, 503, {{"status", "down"}, {"reasons", {"modem down"}}}},
        {false, false, 503, {{"status", "down"}, {"reasons", {"modem down", "database down"}}}},
    };
    for (const Case& c : cases) {
        backend.snapshot.modemUp = c.modem, backend.snapshot.databaseUp = c.database;
        Reply reply = Fetch("127.0.0.1", server.Port(), {"GET", "/health"});
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(json::parse(reply.body), c.answer);
    }
}

TEST_F(HttpServerTest, PageMasksNumbersAndEscapesText) {
    backend.snapshot.recentMessages = {
        {"12:00:01", true, "+4917112345567", "<script>alert('x')</script> & more", "sent"}};
    backend.snapshot.lastErrors = {"Database lost: <b>HY000</b>"};
    backend.snapshot.sent = 4242;
    Reply reply = Get("/");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["content-type"], "text/html; charset=utf-8");
    EXPECT_EQ(reply.headers["content-security-policy"], "default-src 'none'; style-src 'unsafe-inline'");
    const std::string& page = reply.body;
    EXPECT_NE(page.find("+49171****567"), std::string::npos);
    EXPECT_EQ(page.find("12345567"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; more"), std::string::npos);
    EXPECT_NE(page.find("Database lost: &lt;b&gt;HY000&lt;/b&gt;"), std::string::npos);
    EXPECT_NE(page.find("4242"), std::string::npos);
    EXPECT_NE(page.find("http-equiv=\"refresh\""), std::string::npos);
    for (const char* external : {"<script", "src=", "href=", "url("})
        EXPECT_EQ(page.find(external), std::string::npos) << external;
}

TEST_F(HttpServerTest, StartRefusesWhatItCannotServe) {
    struct Case {
        std::string listen, token, error;  // "" when it starts
    } cases[] = {
        {"", "", ""},  // off
        {"127.0.0.1:0", "", "http_token is empty"},
        {"localhost", TOKEN, "expected HOST:PORT"},
        {"[::1]:0", TOKEN, ""},
        {"127.0.0.1:" + std::to_string(server.Port()), TOKEN, "cannot listen on"},  // taken by the fixture's
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.listen);
        CHttpServer other(backend);
        std::string error = other.Start({c.listen, c.token});
        EXPECT_TRUE(c.error.empty() ? error.empty() : error.find(c.error) != std::string::npos) << error;
        EXPECT_EQ(other.Running(), c.error.empty() && !c.listen.empty());
        if (c.listen.starts_with("[") && other.Running()) {
            backend.snapshot.modemUp = backend.snapshot.databaseUp = true;
            EXPECT_EQ(Fetch("[::1]", other.Port(), {"GET", "/health"}).status, 200);
        }
    }
}

TEST_F(HttpServerTest, ManyClientsAtOnceAreAllAnswered) {
    constexpr int CLIENTS = 20, EACH = 5;
    std::vector<std::thread> clients;
    std::atomic<int> created{0};
    for (int i = 0; i < CLIENTS; ++i) {
        clients.emplace_back([&] {
            for (int n = 0; n < EACH; ++n) created += Post(R"({"to": "123", "text": "hi"})").status == 201;
        });
    }
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(created, CLIENTS * EACH);
    EXPECT_EQ(backend.sends.size(), static_cast<std::size_t>(CLIENTS * EACH));
}

// The message API's database calls run one at a time on a thread of their own: one that
// hangs holds up neither /health nor the stop, and a stop while requests wait answers them
// (the one under way first) instead of hanging or leaving a connection parked.
TEST_F(HttpServerTest, AHangingDatabaseHoldsUpNeitherHealthNorTheStop) {
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> first{true};
    backend.onSend = [&] {
        if (!first.exchange(false)) return;
        entered.set_value();
        released.wait();
    };
    const std::string message = R"({"to": "123", "text": "hi"})";
    auto hanging = std::async(std::launch::async, [&] { return Post(message).status; });
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    auto waiting = std::async(std::launch::async, [&] { return Post(message).status; });
    EXPECT_EQ(Fetch("127.0.0.1", server.Port(), {"GET", "/health"}).status, 503);
    auto stopped = std::async(std::launch::async, [&] { server.Stop(); });
    release.set_value();
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(hanging.get(), 201);
    // Queued before the stop (201), refused by it (503) or too late to connect (0); a 201
    // only with its row.
    const long second = waiting.get();
    EXPECT_TRUE(second == 201 || second == 503 || second == 0) << second;
    EXPECT_EQ(backend.sends.size(), second == 201 ? 2u : 1u);
}

TEST_F(HttpServerTest, IdleConnectionsPastTheLimitDoNotLockOthersOut) {
    config.maxConnections = config.maxConnectionsPerIp = 4;
    config.timeoutSeconds = 1;
    ASSERT_EQ(server.Start(config), "");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(server.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<int> idle;
    for (int i = 0; i < 12; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        idle.push_back(fd);
    }
    // The server closes every idle connection when its idle time has run out; those past
    // the limit wait for their turn.
    for (int fd : idle) {
        pollfd p{fd, POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 30000), 1);
        char byte;
        EXPECT_LE(recv(fd, &byte, 1, 0), 0);
        close(fd);
    }
    // A thread reaps its connection just after closing it: until then the limit may still count it.
    backend.snapshot.modemUp = backend.snapshot.databaseUp = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    long status = 0;
    while ((status = Fetch("127.0.0.1", server.Port(), {"GET", "/health"}).status) != 200 &&
           std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_EQ(status, 200);
}

}  // namespace
