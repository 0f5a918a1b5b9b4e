// The HTTP interface as a gateway run starts it: an address it cannot listen on, or no
// token, is told to the journal and leaves it off; a changed token restarts it, and once
// stopped with the gateway it stays stopped.
#include "../engine/EngineFakes.h"
#include "config/SettingsFile.h"
#include "shell/GatewayHttp.h"
#include "support/JournalCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>

TEST(GatewayHttpServer, ListensAsTheSettingsSayOrTellsWhyNot) {
    TempDir dir;
    SetSettingsPath(dir.file("Pellwick.ini"));  // no token file there
    ::unsetenv("CREDENTIALS_DIRECTORY");
    JournalCapture journal(dir.file("log.sock"));
    CSettings settings;
    settings.SetDefaults();
    RunState run;
    FakeClock clock;
    CStatusBoard status{run, clock};
    FakeModem modem;
    FakeDatabase db;
    CGateway gateway(settings, run, status, clock, modem, db, [] { return 1; });
    CGatewayHttp http(gateway, run, status);

    // A port another program holds.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(0, ::bind(holder, reinterpret_cast<sockaddr*>(&address), size));
    ASSERT_EQ(0, ::listen(holder, 1));
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &size);
    const std::string taken = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    struct Case {
        std::string listen, token, journalled;
    };
    const Case cases[] = {
        {taken, "t0ken", "HTTP interface: cannot listen on " + taken},
        {"127.0.0.1:0", "", "HTTP interface: http_listen is set but http_token is empty"},
        {"example.org:8470", "t0ken", "is not an IPv4 address"},
    };
    for (const Case& c : cases) {
        settings.m_strHttpListen = c.listen;
        settings.m_strHttpToken = c.token;
        http.Apply(settings);
        EXPECT_EQ(0u, http.Port()) << c.listen;
        journal.Lines(c.journalled);
        EXPECT_TRUE(journal.Has(c.journalled)) << c.journalled;
    }
    ::close(holder);

    settings.m_strHttpListen = "127.0.0.1:0";
    settings.m_strHttpToken = "first";
    http.Apply(settings);
    const unsigned port = http.Port();
    EXPECT_NE(0u, port);
    auto startsJournalled = [&] {
        int n = 0;
        for (const std::string& line : journal.Lines()) n += line.find("HTTP interface listening on") != std::string::npos;
        return n;
    };
    const int starts = startsJournalled();
    EXPECT_EQ(1, starts);
    settings.m_nQueryInterval = 5;  // not the interface's: it runs on as it was
    http.Apply(settings);
    EXPECT_EQ(port, http.Port());
    settings.m_strHttpToken = "second";
    http.Apply(settings);
    EXPECT_NE(0u, http.Port());
    journal.Lines("HTTP interface listening on");
    EXPECT_EQ(2, startsJournalled());

    http.Stop();
    EXPECT_EQ(0u, http.Port());
    settings.m_strHttpToken = "third";
    http.Apply(settings);
    EXPECT_EQ(0u, http.Port());
}
