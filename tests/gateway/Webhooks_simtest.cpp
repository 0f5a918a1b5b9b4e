// Webhooks through the gateway binary: events queued while the receiver is down reach it
// once it is back, and events queued when the gateway is killed reach it after the restart;
// a receiver set from the shell takes over at once, and status reports become events.
#include "../http/HttpTestSupport.h"
#include "GatewayProcess.h"
#include "GatewayRig.h"
#include "webhook/WebhookSender.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#ifdef PELLWICK_BINARY

namespace {

// A webhook receiver on a loopback port: answers 500 while down and 200 when up, and
// keeps every body it took with whether its signature was right.
class Receiver {
public:
    explicit Receiver(std::string secret) : m_secret(std::move(secret)) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(m_fd, 16);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~Receiver() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/hook"; }
    void SetUp(bool up) { m_up = up; }
    int Refused() const { return m_refused; }
    int BadSignatures() const { return m_badSignatures; }
    std::vector<nlohmann::json> Taken() {
        std::lock_guard lock(m_mutex);
        return m_taken;
    }

private:
    void Serve() {
        while (!m_stop) {
            pollfd listening{m_fd, POLLIN, 0};
            if (::poll(&listening, 1, 100) <= 0) continue;
            const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            Answer(client);
            ::close(client);
        }
    }
    void Answer(int client) {
        timeval timeout{10, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::string request, lower;
        size_t end = std::string::npos, length = 0;
        char buffer[4096];
        for (;;) {
            if (end == std::string::npos && (end = request.find("\r\n\r\n")) != std::string::npos) {
                lower = request.substr(0, end);
                std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
                const size_t at = lower.find("content-length:");
                length = at == std::string::npos ? 0 : std::stoul(lower.substr(at + 15));
            }
            if (end != std::string::npos && request.size() >= end + 4 + length) break;
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            request.append(buffer, static_cast<size_t>(n));
        }
        const std::string body = request.substr(end + 4, length);
        const size_t header = lower.find("\r\nx-pellwick-signature: ");
        const std::string signature =
            header == std::string::npos ? "" : request.substr(header + 24, request.find("\r\n", header + 2) - header - 24);
        const bool up = m_up;
        if (up) {
            std::lock_guard lock(m_mutex);
            m_taken.push_back(nlohmann::json::parse(body, nullptr, false));
            if (signature != WebhookSignature(m_secret, body)) ++m_badSignatures;
        } else {
            ++m_refused;
        }
        const std::string answer = std::string("HTTP/1.1 ") + (up ? "200 OK" : "500 Down") +
                                   "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
    }

    const std::string m_secret;
    int m_fd = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false}, m_up{false};
    std::atomic<int> m_refused{0}, m_badSignatures{0};
    std::mutex m_mutex;
    std::vector<nlohmann::json> m_taken;
};

std::string Stderr(GatewayRig& rig) { return FileText(rig.dir.file("stderr.txt")); }

}  // namespace

// The receiver is down (a few seconds here, enough for the back-off to grow) while five
// messages arrive, by both roads, and five rows go out: once it is up it gets all ten
// events. Then, down again, two more are queued and the gateway killed: the restarted
// gateway delivers them. Every event comes, signed; one that comes again (a message the
// network delivered twice) is the same event under the same event_id.
TEST(GatewayWebhooks, EventsQueuedWhileTheReceiverIsDownOrTheGatewayKilledAllArrive) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    Receiver receiver("s3cr\xC3\xABt");
    std::ofstream(rig.dir.file("Pellwick.conf"), std::ios::app)
        << "webhook_url=" << receiver.Url() << "\nwebhook_secret=s3cr\xC3\xABt\n";
    for (int id = 1; id <= 5; ++id)
        rig.Sql("insert into smsout(msgid, phone, msgbody) values(" + std::to_string(id) + ", '+4917" +
                std::to_string(id) + "', 'row " + std::to_string(id) + "')");
    rig.sim.Control("DELIVER from=+4930001 via=store mem=SM text=stored \"one\"");
    rig.sim.Control("DELIVER from=+4930002 via=store mem=SM text=stored two \\ back");
    pid_t gateway = StartGatewayProcess(rig.dir.path());
    ASSERT_TRUE(WaitFor([&] { return !rig.sim.Submitted().empty(); }, 120)) << Stderr(rig);
    for (int n = 3; n <= 5; ++n)
        rig.sim.Control("DELIVER from=+493000" + std::to_string(n) + " via=direct text=direct " + std::to_string(n));
    auto queued = [&] { return StateRows(rig.StatePath(), "select count(*) from webhook_events"); };
    ASSERT_TRUE(WaitFor([&] { return queued() == std::vector<std::string>{"10"} && receiver.Refused() >= 3; }, 120))
        << Stderr(rig) << testing::PrintToString(queued());
    receiver.SetUp(true);
    EXPECT_TRUE(WaitFor([&] { return receiver.Taken().size() >= 10 && queued() == std::vector<std::string>{"0"}; }, 120))
        << receiver.Taken().size();

    receiver.SetUp(false);
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(6, '+41786', 'row 6')");
    rig.sim.Control("DELIVER from=+4930006 via=direct text=direct 6");
    ASSERT_TRUE(WaitFor([&] { return queued() == std::vector<std::string>{"2"}; }, 120)) << Stderr(rig);
    EndProcess(gateway, SIGKILL);
    receiver.SetUp(true);
    gateway = StartGatewayProcess(rig.dir.path());
    EXPECT_TRUE(WaitFor([&] { return receiver.Taken().size() >= 12 && queued() == std::vector<std::string>{"0"}; }, 120));
    EndProcess(gateway, SIGTERM);

    std::map<std::string, nlohmann::json> ids;
    std::map<std::string, std::string> received, sent;  // phone -> text, id -> phone
    for (const nlohmann::json& event : receiver.Taken()) {
        ASSERT_TRUE(event.is_object()) << event;
        EXPECT_EQ(event, ids.try_emplace(event.value("event_id", ""), event).first->second);
        if (event["event"] == "sms:received") received[event["phone"]] = event["text"];
        if (event["event"] == "sms:sent") sent[event["id"]] = event["phone"];
    }
    EXPECT_EQ(12u, ids.size());
    EXPECT_EQ(0, receiver.BadSignatures());
    const std::map<std::string, std::string> texts = {
        {"+4930001", "stored \"one\""}, {"+4930002", "stored two \\ back"}, {"+4930003", "direct 3"},
        {"+4930004", "direct 4"},       {"+4930005", "direct 5"},          {"+4930006", "direct 6"}};
    EXPECT_EQ(texts, received);
    const std::map<std::string, std::string> phones = {{"1", "+49171"}, {"2", "+49172"}, {"3", "+49173"},
                                                       {"4", "+49174"}, {"5", "+49175"}, {"6", "+41786"}};
    EXPECT_EQ(phones, sent);
}

// While the first receiver is down, events wait and /metrics counts them; a new receiver
// and secret set with -set reach the running gateway, which delivers the waiting event
// there, signed with the new secret, and then the status report as sms:delivered.
TEST(GatewayWebhooks, AReceiverSetFromTheShellTakesOverAndReportsBecomeEvents) {
    GatewayRig rig;
    ASSERT_TRUE(rig.SaveSettingsForTheBinary());
    rig.Sql("alter table smsout add column delivered integer");
    Receiver first("old secret"), second("new secret");
    const unsigned port = FreePort();
    const std::string token = "t0k3n";
    std::ofstream(rig.dir.file("Pellwick.conf"), std::ios::app)
        << "webhook_url=" << first.Url() << "\nwebhook_secret=old secret\nhttp_listen=127.0.0.1:" << port
        << "\nhttp_token=" << token << "\nreport_sql=update smsout set delivered=<STATUS> where msgid=<MSGID>\n";
    rig.sim.Control("SET mr 10");
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(7, '+4917077', 'with a report')");
    pid_t gateway = StartGatewayProcess(rig.dir.path());
    auto depth = [&] {
        const std::string metrics =
            Fetch("127.0.0.1", port, {"GET", "/metrics", "", {"Authorization: Bearer " + token}}).body;
        const std::size_t at = metrics.find("\npellwick_webhook_queue_depth ");
        return at == std::string::npos ? -1 : std::stoi(metrics.substr(at + 30));
    };
    ASSERT_TRUE(WaitFor([&] { return first.Refused() >= 1 && depth() == 1; }, 120)) << Stderr(rig) << depth();

    const std::string set = "'" PELLWICK_BINARY "' -home '" + rig.dir.path() + "' -set webhook_url=" + second.Url() +
                            " 'webhook_secret=new secret' >/dev/null 2>&1";
    ASSERT_EQ(0, std::system(set.c_str()));
    second.SetUp(true);
    ASSERT_TRUE(WaitFor([&] { return second.Taken().size() == 1; }, 120)) << Stderr(rig);
    rig.sim.Control("REPORT mr=10 to=+4917077 status=0 via=direct");
    EXPECT_TRUE(WaitFor([&] { return second.Taken().size() == 2 && depth() == 0; }, 120)) << Stderr(rig);
    EndProcess(gateway, SIGTERM);

    const std::vector<nlohmann::json> taken = second.Taken();
    ASSERT_EQ(2u, taken.size());
    EXPECT_EQ("sms:sent", taken[0].value("event", ""));
    EXPECT_EQ("7", taken[0].value("id", ""));
    EXPECT_EQ("sms:delivered", taken[1].value("event", ""));
    EXPECT_EQ("7", taken[1].value("id", ""));
    EXPECT_EQ(1, taken[1].value("status", -99));
    EXPECT_EQ(0, second.BadSignatures());
    EXPECT_TRUE(first.Taken().empty());
    EXPECT_EQ(std::vector<std::string>{"1"}, rig.Rows("select delivered from smsout", {"delivered"}));
}

#endif
