// The status page as a browser shows it: headless Chromium, offline, against the real server
// with a fake backend behind it. The screenshot is kept in the build folder.
#include "HttpTestSupport.h"
#include "http/HttpServer.h"
#include "http/StatusPage.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string TOKEN = "page-Token-42";
const std::string LONG_NUMBER = "+4917612345678901234";
const std::string SHORT_NUMBER = "+4915199887766";
const std::string MARKUP_TEXT = "<b>bold</b> & <script>alert(1)</script> \"q\"";

// Where chromium is on PATH; "" when it is not installed.
std::string FindChromium() {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (::access((dir + "/chromium").c_str(), X_OK) == 0) return dir + "/chromium";
    return "";
}

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs a program in a process group of its own with its output in `out` and its errors in
// `log`. True when it exits with 0 within `seconds`; the group is killed in any case, so
// neither a hung program nor a helper it leaves behind outlives the call.
bool RunBounded(std::vector<std::string> argv, const std::string& out, const std::string& log, int seconds = 120) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    // A process descriptor turns readable when the process ends.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    pollfd ended{pidfd, POLLIN, 0};
    const bool done = pidfd >= 0 && ::poll(&ended, 1, seconds * 1000) == 1;
    ::kill(-pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (pidfd >= 0) ::close(pidfd);
    return done && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class StatusPageBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        chromium = FindChromium();
        if (chromium.empty()) GTEST_SKIP() << "chromium is not installed: the page is not tested in a browser";
        GatewaySnapshot& s = backend.snapshot;
        s.sent = 4217, s.failed = 13, s.unknown = 2, s.received = 389, s.rejected = 7, s.outboxPending = 25;
        s.modemUp = s.databaseUp = s.simReady = true;
        s.signalQuality = 18, s.batteryPercent = 87, s.webhookQueueDepth = 3;
        s.lastErrors = {"modem did not answer within 30 s"};
        s.recentMessages = {{"2026-12-07 21:58:03", true, LONG_NUMBER, MARKUP_TEXT, "sent"},
                            {"2026-12-07 21:57:40", false, SHORT_NUMBER, "Tom & Jerry's \u20ac5", "received"}};
        ASSERT_EQ(server.Start({"127.0.0.1:0", TOKEN}), "");
    }

    // Opens the page with the token as Basic password in the URL, offline: every address but
    // loopback goes to a proxy that is not there.
    bool Browse(const std::vector<std::string>& action, const std::string& out) {
        std::vector<std::string> argv = {chromium, "--headless=new", "--no-sandbox", "--disable-gpu",
                                         "--user-data-dir=" + dir.file("profile"), "--proxy-server=127.0.0.1:9"};
        argv.insert(argv.end(), action.begin(), action.end());
        argv.push_back("http://operator:" + TOKEN + "@127.0.0.1:" + std::to_string(server.Port()) + "/");
        const bool ok = RunBounded(argv, out, dir.file("chromium.log"));
        if (!ok) ADD_FAILURE() << "chromium failed:\n" << ReadFile(dir.file("chromium.log"));
        return ok;
    }

    std::string chromium;
    TempDir dir;
    CFakeBackend backend;
    CHttpServer server{backend};
};

TEST_F(StatusPageBrowserTest, ShowsTheStateWithNumbersMaskedAndTextsLiteral) {
    ASSERT_TRUE(Browse({"--dump-dom"}, dir.file("dom.html")));
    const std::string dom = ReadFile(dir.file("dom.html"));
    // The page's text: each element's content separated by one space, entities as serialized.
    const std::string text = std::regex_replace(std::regex_replace(dom, std::regex("<[^>]*>"), " "),
                                                std::regex("\\s+"), " ");
    for (const std::string& shown : std::vector<std::string>{
             "Modem up", "Database up", "SIM up", "Network down", "Signal (0..31) 18", "Battery 87 %", "Sent 4217",
             "Failed 13", "Unknown 2", "Received 389", "Rejected 7", "Outbox waiting 25", "Webhook queue 3",
             "modem did not answer within 30 s", MaskNumber(LONG_NUMBER), MaskNumber(SHORT_NUMBER),
             "&lt;b&gt;bold&lt;/b&gt; &amp; &lt;script&gt;alert(1)&lt;/script&gt; \"q\"", "Tom &amp; Jerry's \u20ac5"})
        EXPECT_NE(text.find(shown), std::string::npos) << "not on the page: " << shown << "\n" << text;
    for (const std::string& hidden : {LONG_NUMBER, SHORT_NUMBER, std::string("<b>"), std::string("<script")})
        EXPECT_EQ(dom.find(hidden), std::string::npos) << "on the page: " << hidden;
    // Self-contained: nothing on it loads anything from anywhere.
    EXPECT_FALSE(std::regex_search(dom, std::regex(R"(\b(src|href|srcset)\s*=|url\s*\(|@import)", std::regex::icase)))
        << dom;
}

TEST_F(StatusPageBrowserTest, RendersAScreenshot) {
    const fs::path artifacts(HTTP_ARTIFACTS);
    fs::create_directories(artifacts);
    const std::string shot = artifacts / "status-page.png";
    fs::remove(shot);
    ASSERT_TRUE(Browse({"--screenshot=" + shot, "--window-size=1024,768"}, dir.file("out")));
    // Its size, and how much its colours vary: 0 for a blank image.
    ASSERT_TRUE(RunBounded({"identify", "-format", "%w %h %[fx:standard_deviation]", shot}, dir.file("identify"),
                    dir.file("identify.log")))
        << ReadFile(dir.file("identify.log"));
    std::istringstream info(ReadFile(dir.file("identify")));
    int width = 0, height = 0;
    double spread = 0;
    info >> width >> height >> spread;
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 768);
    EXPECT_GT(spread, 0.01) << "the screenshot is blank";
}

}  // namespace
