// The HTTP interface of the gateway binary: a message sent through it goes out once and
// its status follows the outbox row; refusals insert nothing; /metrics counts what
// happened and /health follows the modem.
#include "../http/HttpTestSupport.h"
#include "GatewayProcess.h"
#include "GatewayRig.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <map>
#include <sstream>

#ifdef PELLWICK_BINARY

namespace {

const std::string kToken = "t0k3n-for-the-test";

// The gateway binary on the rig's data source with the HTTP interface on a free port.
struct HttpGateway {
    GatewayRig& rig;
    unsigned port = FreePort();
    pid_t pid = -1;

    explicit HttpGateway(GatewayRig& rig) : rig(rig) {
        CSettings binary;
        binary.SetDefaults();
        binary.m_strDsn = rig.settings.m_strDsn;
        binary.m_strDbUser = rig.settings.m_strDbUser;
        binary.m_strDbPassword = rig.settings.m_strDbPassword;
        binary.m_bSendingPeriod = 0;
        binary.m_nRetryInterval = 0;
        binary.m_nQueryInterval = 1;
        EXPECT_EQ(1, SaveSettingsFile(binary, rig.dir.file("Pellwick.ini")));
        std::ofstream(rig.dir.file("Pellwick.conf"), std::ios::app)
            << "http_listen=127.0.0.1:" << port << "\nhttp_token=" << kToken << "\n";
        pid = StartGatewayProcess(rig.dir.path());
    }
    ~HttpGateway() { EndProcess(pid, SIGTERM); }

    Reply Ask(Call call, bool authorized = true) {
        if (authorized) call.headers.push_back("Authorization: Bearer " + kToken);
        return Fetch("127.0.0.1", port, call);
    }
    Reply Post(const std::string& body) { return Ask({"POST", "/v1/messages", body, {"Content-Type: application/json"}}); }
    // The status GET /v1/messages/ID answers; -99 when it does not answer 200.
    int Status(const std::string& id) {
        const Reply reply = Ask({"GET", "/v1/messages/" + id});
        if (reply.status != 200) return -99;
        const nlohmann::json doc = nlohmann::json::parse(reply.body, nullptr, false);
        return doc.is_object() && doc.value("id", "") == id ? doc.value("status", -99) : -98;
    }
    std::string Stderr() const { return FileText(rig.dir.file("stderr.txt")); }
};

// What `pellwick -home FOLDER ARGS` prints.
std::string Command(const std::string& folder, const std::string& args) {
    std::string text;
    if (std::FILE* pipe = ::popen(("'" PELLWICK_BINARY "' -home '" + folder + "' " + args + " 2>&1").c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
        ::pclose(pipe);
    }
    return text;
}

// The samples of a Prometheus text, by name with labels ("pellwick_link_up{link=\"modem\"}").
std::map<std::string, double> Samples(const std::string& text) {
    std::map<std::string, double> samples;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t space = line.rfind(' ');
        samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
    }
    return samples;
}

}  // namespace

TEST(GatewayHttp, SendAskMetricsAndHealthThroughTheBinary) {
    GatewayRig rig;
    HttpGateway gateway(rig);
    ASSERT_TRUE(WaitFor([&] { return gateway.Ask({"GET", "/health"}, false).status == 200; }, 120)) << gateway.Stderr();

    // Every path but /health asks for the token, and a browser is asked for it.
    Reply anonymous = gateway.Ask({"GET", "/metrics"}, false);
    EXPECT_EQ(401, anonymous.status);
    EXPECT_NE(std::string::npos, anonymous.headers["www-authenticate"].find("Basic"));
    EXPECT_EQ(401, gateway.Ask({"POST", "/v1/messages", R"({"to":"+4917012345","text":"x"})"}, false).status);
    EXPECT_EQ(401, gateway.Ask({"GET", "/", "", {"Authorization: Bearer wrong"}}, false).status);
    EXPECT_EQ(200, gateway.Ask({"GET", "/", "", {}, "anyone:" + kToken}, false).status);

    // Refusals insert nothing.
    for (const std::string& body : {std::string("{\"to\":"), std::string(R"({"to":"+49x17","text":"bad number"})"),
                                    std::string(R"({"to":"+4917012345","text":""})")})
        EXPECT_EQ(400, gateway.Post(body).status) << body;
    EXPECT_TRUE(rig.Rows("select msgid from smsout", {"msgid"}).empty());

    const Reply created = gateway.Post(R"({"to":"+4917012345","text":"through HTTP"})");
    ASSERT_EQ(201, created.status) << created.body;
    const std::string id = nlohmann::json::parse(created.body).value("id", "");
    ASSERT_FALSE(id.empty());
    EXPECT_TRUE(WaitFor([&] { return gateway.Status(id) == 1; }, 120)) << gateway.Status(id) << gateway.Stderr();
    EXPECT_EQ(404, gateway.Ask({"GET", "/v1/messages/999999"}).status);
    int copies = 0;
    for (const CSmsPdu& pdu : rig.Submitted()) copies += pdu.m_strText.rfind("through HTTP", 0) == 0;
    EXPECT_EQ(1, copies);

    rig.sim.Control("DELIVER from=+4915 text=inbound");
    std::map<std::string, double> metrics;
    EXPECT_TRUE(WaitFor(
        [&] {
            metrics = Samples(gateway.Ask({"GET", "/metrics"}).body);
            return metrics["pellwick_messages_received_total"] == 1;
        },
        120));
    for (const auto& [name, value] : std::map<std::string, double>{{"pellwick_messages_sent_total", 1},
                                                                  {"pellwick_messages_failed_total", 0},
                                                                  {"pellwick_messages_unknown_total", 0},
                                                                  {"pellwick_messages_rejected_total", 0},
                                                                  {"pellwick_outbox_pending", 0},
                                                                  {"pellwick_link_up{link=\"modem\"}", 1},
                                                                  {"pellwick_link_up{link=\"database\"}", 1},
                                                                  {"pellwick_link_up{link=\"sim\"}", 1},
                                                                  {"pellwick_submission_seconds_count", 1}})
        EXPECT_EQ(value, metrics.count(name) ? metrics[name] : -1) << name;
    const std::string page = gateway.Ask({"GET", "/"}).body;
    EXPECT_NE(std::string::npos, page.find("through HTTP"));

    // A token set from the shell reaches the running gateway; -show masks it.
    Command(rig.dir.path(), "-set http_token=n3w-t0ken");
    EXPECT_NE(std::string::npos, Command(rig.dir.path(), "-show").find("\nhttp_token=********\n"));
    EXPECT_TRUE(WaitFor([&] { return gateway.Ask({"GET", "/metrics"}).status == 401; }, 120));
    EXPECT_EQ(200, gateway.Ask({"GET", "/metrics", "", {"Authorization: Bearer n3w-t0ken"}}, false).status);

    // A modem that no longer answers turns the health check down, with the reason.
    rig.sim.Control("FAULT SILENT 1000000");
    Reply health;
    EXPECT_TRUE(WaitFor(
        [&] {
            health = gateway.Ask({"GET", "/health"}, false);
            return health.status == 503;
        },
        120));
    EXPECT_NE(std::string::npos, health.body.find("modem down")) << health.body;
}

// On PostgreSQL the message id comes from the outbox's serial key through "returning".
TEST(GatewayHttpPg, SendAndAskThroughTheTemplates) {
    GatewayRig rig;
    if (!rig.UsePostgres()) GTEST_SKIP() << "no PostgreSQL server: run the tests through ctest";
    HttpGateway gateway(rig);
    ASSERT_TRUE(WaitFor([&] { return gateway.Ask({"GET", "/health"}, false).status == 200; }, 120)) << gateway.Stderr();
    const Reply created = gateway.Post(R"({"to":"+4917012345","text":"through HTTP on PostgreSQL"})");
    ASSERT_EQ(201, created.status) << created.body;
    const std::string id = nlohmann::json::parse(created.body).value("id", "");
    EXPECT_EQ(std::vector<std::string>{id}, rig.Rows("select msgid from smsout", {"msgid"}));
    EXPECT_TRUE(WaitFor([&] { return gateway.Status(id) == 1; }, 120)) << gateway.Status(id) << gateway.Stderr();
    EXPECT_EQ(404, gateway.Ask({"GET", "/v1/messages/999999"}).status);
}

#endif
