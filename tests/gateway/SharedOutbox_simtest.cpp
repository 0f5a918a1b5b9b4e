// Several gateway processes, each with its own simulator and state folder, on one
// outbox: every row goes out once in all, also when one of them is killed mid-run.
#ifdef PELLWICK_BINARY
#include "GatewayProcess.h"
#include "GatewayRig.h"
#include "config/ConfFile.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

constexpr int ROWS = 300;

struct Templates {
    std::string claim, release, reclaim, update, stale;
};

const Templates kPostgres{
    "update smsout set status=2, owner='<INSTANCE>', claimed=now() where msgid in "
    "(select msgid from smsout where msgid='<MSGID>' and status=0 for update skip locked)",
    "update smsout set status=0, owner=null where msgid='<MSGID>' and owner='<INSTANCE>' and status=2",
    "update smsout set status=0, owner=null where status=2 and owner<>'<INSTANCE>' and "
    "claimed < now() - interval '<TIMEOUT> minutes'",
    "update smsout set status=<RESULT> where msgid='<MSGID>' and owner='<INSTANCE>'",
    "now() - interval '2 hours'",
};

const Templates kSqlite{
    "update smsout set status=2, owner='<INSTANCE>', claimed=datetime('now') where msgid='<MSGID>' and status=0",
    kPostgres.release,
    "update smsout set status=0, owner=null where status=2 and owner<>'<INSTANCE>' and "
    "claimed < datetime('now', '-<TIMEOUT> minutes')",
    kPostgres.update,
    "datetime('now', '-2 hours')",
};

// One gateway: a state folder with its settings, a simulator whose submissions take
// 50 ms, so that the gateways wait on their modems as they would on a network, and the
// process.
struct Member {
    TempDir dir;
    ModemSim sim{dir.path()};
    pid_t pid = -1;

    Member(const CSettings& settings) {
        sim.Control("FAULT CMGS 1000000 late 50");
        SaveSettingsFile(settings, dir.file("Pellwick.ini"));
        WriteConfFile(settings, dir.file(CONF_FILE_NAME));
        Start();
    }
    ~Member() { EndProcess(pid, SIGTERM); }
    void Start() { pid = StartGatewayProcess(dir.path()); }
    size_t Submitted() { return sim.Submitted().size(); }
};

// Inserts ROWS rows and one claimed two hours ago by a gateway that is gone, runs
// `count` gateways on them, kills the last with kill -9 once it has sent 50 and starts it
// again, and checks that every row ends sent once or unknown, none twice.
void ShareTheOutbox(GatewayRig& rig, const Templates& t, int count, const std::string& series) {
    rig.Admin("insert into smsout(phone, msgbody) " + series);
    rig.Admin("insert into smsout(phone, msgbody, status, owner, claimed) values('+492', 'left by a dead gateway', 2, "
              "'gone/gateway', " + t.stale + ")");
    CSettings settings = rig.settings;
    settings.m_nRetryInterval = 0;
    settings.m_nQueryInterval = 1;
    settings.m_strUpdateSql = t.update;
    settings.m_strClaimSql = t.claim;
    settings.m_strReleaseSql = t.release;
    settings.m_strReclaimSql = t.reclaim;
    std::vector<std::unique_ptr<Member>> members;
    for (int i = 0; i < count; ++i) members.push_back(std::make_unique<Member>(settings));
    Member& victim = *members.back();

    const bool reached = WaitFor([&] { return victim.Submitted() >= 50; }, 600);
    EndProcess(victim.pid, SIGKILL);
    victim.Start();
    auto open = [&] { return rig.Rows("select count(*) as n from smsout where status in (0, 2)", {"n"}); };
    const bool drained = WaitFor([&] { return open() == std::vector<std::string>{"0"}; }, 600);
    for (auto& m : members) EndProcess(m->pid, SIGTERM);
    ASSERT_TRUE(reached && drained) << FileText(victim.dir.file("Pellwick.log")).substr(0, 4000);

    std::map<std::string, int> submissions;  // text -> times submitted, over every modem
    for (auto& m : members) {
        EXPECT_GE(m->Submitted(), 50u) << m->dir.path();
        for (const CSmsPdu& pdu : GatewayRig::Decoded(m->sim)) ++submissions[pdu.m_strText];
    }
    int sent = 0, unknown = 0;
    for (const std::string& row : rig.Rows("select msgbody, status from smsout", {"msgbody", "status"})) {
        const std::string text = row.substr(0, row.rfind('|')) + " ", status = row.substr(row.rfind('|') + 1);
        // Sent exactly once; or unknown, the row in hand at the kill: at most once.
        EXPECT_EQ(status == "1" ? 1 : std::min(submissions[text], 1), submissions[text]) << row;
        sent += status == "1";
        unknown += status == "-2";
    }
    EXPECT_EQ(ROWS + 1, sent + unknown);
    EXPECT_LE(unknown, 1);
    EXPECT_EQ(submissions.size(), static_cast<size_t>(sent + unknown));  // nothing sent that is not a row
}

}  // namespace

TEST(SharedOutboxPg, ThreeGatewaysSendEveryRowOnceThroughAKill) {
    GatewayRig rig;
    if (!rig.UsePostgres(", owner text, claimed timestamp")) GTEST_SKIP() << "no PostgreSQL server: run through ctest";
    ShareTheOutbox(rig, kPostgres, 3,
                   "select '+491', 'row ' || i from generate_series(1, " + std::to_string(ROWS) + ") as i");
}

TEST(SharedOutbox, TwoGatewaysOnSqliteSendEveryRowOnceThroughAKill) {
    GatewayRig rig;
    rig.Sql("alter table smsout add column owner TEXT");
    rig.Sql("alter table smsout add column claimed TIMESTAMP");
    ShareTheOutbox(rig, kSqlite, 2,
                   "with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
                       std::to_string(ROWS) + ") select '+491', 'row ' || i from n");
}
#endif
