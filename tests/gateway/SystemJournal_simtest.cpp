// What the gateway tells the system journal, captured on a socket that stands for /dev/log.
#include "GatewayRig.h"
#include "support/JournalCapture.h"

#include <gtest/gtest.h>

namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
}

}  // namespace

// A wrong data source and a missing device are explained once each, with the driver's
// diagnostic and the device's errno; the links coming up and a message sent follow.
TEST(SystemJournal, LinksAndMessagesWithTheirReasons) {
    GatewayRig rig;
    JournalCapture journal(rig.dir.file("log.sock"));
    rig.Sql("insert into smsout(msgid, phone, msgbody) values(41, '+4917012345', 'Secret text')");
    rig.settings.m_strDsn = "PwNoSuchSource";
    rig.settings.m_nPort = 16;  // no COM16 beside the gateway: /dev/ttyS15
    rig.gateway->ConnectLinks();
    journal.Lines("device link down");
    rig.gateway->ConnectLinks();
    const std::vector<std::string> lines = journal.Lines();
    const std::string all = Joined(lines);
    EXPECT_EQ(lines.size(), 3u) << all;  // each reason once, however often the connect is retried
    EXPECT_TRUE(journal.Has("orvane-pellwick[")) << all;
    // unixODBC's "data source name not found" with its SQLSTATE.
    EXPECT_TRUE(journal.Has("database link down: cannot open data source 'PwNoSuchSource': [IM002]")) << all;
    EXPECT_TRUE(journal.Has("cannot open /dev/ttyS15: No such file or directory")) << all;
    EXPECT_EQ(lines[0].rfind("<27>", 0), 0u) << all;  // daemon facility, error priority

    rig.settings.m_strDsn = "PwSqlite";
    rig.settings.m_nPort = 1;
    rig.Passes(1);
    EXPECT_TRUE(journal.Lines("outbox row 41 sent").size() > 3u);
    const std::string after = Joined(journal.Lines());
    EXPECT_TRUE(journal.Has("database link up (data source 'PwSqlite')")) << after;
    EXPECT_TRUE(journal.Has("device link up (COM1)")) << after;
    EXPECT_TRUE(journal.Has("outbox row 41 sent")) << after;
    EXPECT_EQ(after.find("Secret text"), std::string::npos) << after;
}
