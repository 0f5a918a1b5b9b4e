// The shell commands beside a running gateway binary: -status tells what it did, -send
// queues a row it then sends once, and update_sql's <REASON> says why a row failed.
#include "GatewayProcess.h"
#include "GatewayRig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>

#ifdef PELLWICK_BINARY

namespace {

struct Output {
    int code = -1;
    std::string text;
};

// `pellwick -home FOLDER ARGS` (ARGS as the shell reads them), waited for.
Output RunCommand(const std::string& folder, const std::string& args) {
    const std::string line = std::string("'") + PELLWICK_BINARY + "' -home '" + folder + "' " + args + " 2>>'" +
                             folder + "/stderr.txt'";
    Output output;
    std::FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe) return output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output.text += buffer;
    const int status = ::pclose(pipe);
    output.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

// The value of `name` in name=value lines; "?" when there is no such line.
std::string Field(const std::string& lines, const std::string& name) {
    const std::string key = name + "=";
    const std::size_t at = lines.rfind("\n" + key) != std::string::npos ? lines.rfind("\n" + key) + 1
                           : lines.rfind(key, 0) == 0                  ? 0
                                                                       : std::string::npos;
    if (at == std::string::npos) return "?";
    const std::size_t end = lines.find('\n', at);
    return lines.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
}

}  // namespace

TEST(GatewayCommands, StatusSendAndReasonBesideARunningGateway) {
    GatewayRig rig;
    const std::string folder = rig.dir.path();
    rig.Sql("alter table smsout add column reason TEXT");
    CSettings binary;
    binary.SetDefaults();
    binary.m_strDsn = "PwSqlite";
    binary.m_bSendingPeriod = 0;
    binary.m_nRetryInterval = 0;
    binary.m_nRetryCount = 0;  // one refusal fails a row
    binary.m_nQueryInterval = 1;
    binary.m_strUpdateSql = "update smsout set status=<RESULT>, reason='<REASON>' where msgid='<MSGID>'";
    ASSERT_EQ(1, SaveSettingsFile(binary, rig.dir.file("Pellwick.ini")));

    const Output none = RunCommand(folder, "-status");
    EXPECT_EQ(3, none.code);
    EXPECT_EQ("state=stopped\n", none.text);

    rig.Sql("insert into smsout(msgid, phone, msgbody) values(1, '+491', 'refused by the modem')");
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(2, 'nobody', 'refused by the gateway')");
    rig.sim.Control("FAULT CMGS 1 pdu");
    const pid_t gateway = StartGatewayProcess(folder);
    auto rows = [&] { return rig.Rows("select msgid, status, reason from smsout order by msgid", {"msgid", "status", "reason"}); };
    const std::vector<std::string> refused = {"1|-1|+CMS ERROR: 500", "2|-1|not a dialable number"};
    ASSERT_TRUE(WaitFor([&] { return rows() == refused; }, 120)) << testing::PrintToString(rows());

    const Output queued = RunCommand(folder, "-send +4917012345 'sent once'");
    EXPECT_EQ(0, queued.code) << FileText(rig.dir.file("stderr.txt"));
    EXPECT_EQ("id=3\n", queued.text);
    EXPECT_EQ(2, RunCommand(folder, "-send 4917x 'never'").code);
    rig.sim.Control("DELIVER from=+4915 text=inbound");

    Output status;
    const bool counted = WaitFor(
        [&] {
            status = RunCommand(folder, "-status");
            return Field(status.text, "sent") == "1" && Field(status.text, "received") == "1";
        },
        120);
    EXPECT_TRUE(counted) << status.text;
    EXPECT_EQ(0, status.code);
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"state", "running"}, {"modem", "up"}, {"database", "up"}, {"sim", "ready"}, {"failed", "2"},
             {"unknown", "0"}, {"rejected", "0"}, {"pending", "0"}, {"pid", std::to_string(gateway)}})
        EXPECT_EQ(value, Field(status.text, name)) << name << "\n" << status.text;
    EXPECT_NE("?", Field(status.text, "status"));
    EXPECT_NE("", Field(status.text, "since"));
    EXPECT_EQ((std::vector<std::string>{refused[0], refused[1], "3|1|"}), rows());
    int copies = 0;
    for (const CSmsPdu& pdu : rig.Submitted()) copies += pdu.m_strText.rfind("sent once", 0) == 0;
    EXPECT_EQ(1, copies);

    EndProcess(gateway, SIGTERM);
    EXPECT_EQ(3, RunCommand(folder, "-status").code);
}

#endif
