#include "config/MessageHook.h"
#include "config/SettingFields.h"
#include "config/SettingsFile.h"
#include "support/JournalCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;

TEST(SettingFields, EveryNameInShowOrder) {
    std::string names;
    for (const SettingField& field : SettingFields()) names += std::string(field.name) + " ";
    EXPECT_EQ(names,
              "port baud_rate retry_interval retry_count smsc long_sms pin dsn db_user db_password select_sql "
              "update_sql insert_sql query_interval sending_period start_time end_time daily_report report_time "
              "battery_warning db_lost_warning report_phone auto_start multipart_join multipart_timeout report_sql "
              "claim_sql release_sql reclaim_sql claim_timeout reply_numbers reply_limit outbox_insert_sql webhook_url "
              "webhook_secret http_listen http_token outbox_status_sql ");
}

// Each value checked as the configuration window checks it: accepted values shown back
// as -show prints them, refused ones with their reason.
TEST(SettingFields, AssignChecksAndShowsBack) {
    struct Case {
        const char* name;
        std::string value;
        std::string shown;   // empty when refused
        std::string reason;  // empty when accepted
    };
    const std::string text31(31, 'x'), text255(255, 'y');
    const Case cases[] = {
        {"retry_interval", "5", "5", ""},
        {"retry_interval", " 86400 ", "86400", ""},
        {"retry_interval", "86401", "", "Please enter an integer between 0 and 86400."},
        {"retry_interval", "-1", "", "Please enter an integer between 0 and 86400."},
        {"retry_interval", "abc", "", "Please enter an integer."},
        {"retry_interval", "", "", "Please enter an integer."},
        {"retry_interval", "5x", "", "Please enter an integer."},
        {"retry_interval", "99999999999", "", "Please enter an integer."},
        {"retry_count", "1000", "1000", ""},
        {"retry_count", "1001", "", "Please enter an integer between 0 and 1000."},
        {"query_interval", "0", "", "Please enter an integer between 1 and 2147483647."},
        {"query_interval", "+7", "7", ""},
        {"port", "16", "16", ""},
        {"port", "17", "", "Please enter an integer between 0 and 16."},
        {"baud_rate", "115200", "115200", ""},
        {"baud_rate", "4", "", "not one of 9600, 19200, 38400, 57600, 115200"},
        {"long_sms", "1", "1", ""},
        {"long_sms", "2", "", "Please enter an integer between 0 and 1."},
        {"end_time", "24", "24", ""},
        {"start_time", "25", "", "Please enter an integer between 0 and 24."},
        {"dsn", "Sales", "Sales", ""},
        {"dsn", "", "", ""},
        {"dsn", text31, text31, ""},
        {"dsn", text31 + "x", "", "longer than 31 bytes"},
        {"report_phone", "\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9", ""},
        {"report_phone", "\xc3(", "", "not UTF-8 text"},
        {"select_sql", text255, text255, ""},
        {"insert_sql", text255 + "y", "", "longer than 255 bytes"},
        {"update_sql", "update smsout\nset status=1", "", "holds a control character"},
        {"pin", "1234", "********", ""},
        {"pin", "12\r34", "", "holds a control character"},
        {"db_password", "secret", "********", ""},
        {"multipart_timeout", "0", "", "Please enter an integer between 1 and 10080."},
        {"report_sql", std::string(1001, 'z'), "", "longer than 1000 bytes"},
        {"claim_timeout", "0", "0", ""},
        {"claim_timeout", "-1", "", "Please enter an integer between 0 and 10080."},
        {"insert_sql", "insert into smsin(phone, msgbody, rectime) values('<PHONE>', '<MSGBODY>', '<TIME>')", "", ""},
        {"insert_sql", "insert into smsin(phone) values('+<PHONE>')", "",
         "<PHONE> is part of a longer quoted text: an outside value must fill a whole literal ('<PHONE>') or stand "
         "bare"},
        {"report_sql", "update smsout set delivered=<STATUS> where msgid=<MSGID>", "", ""},
        {"report_sql", "update smsout set delivered=<STATUS> where msgid=\"<MSGID>\"", "",
         "<MSGID> stands inside double quotes: an outside value must fill a whole literal ('<MSGID>') or stand bare"},
        {"claim_sql", "update smsout set owner='<INSTANCE>' where msgid='<MSGID>x'", "",
         "<MSGID> is part of a longer quoted text: an outside value must fill a whole literal ('<MSGID>') or stand "
         "bare"},
        {"select_sql", "select msgid as <MSGID> from smsout where phone like '<PHONE>%'", "", ""},
        {"reply_numbers", "+4917012345, 4930*, 0049 151*", "", "'0049 151*' is not a number or a prefix ending in '*'"},
        {"reply_numbers", "+4917012345, 4930*", "+4917012345, 4930*", ""},
        {"reply_numbers", "4917,,4930", "", "an entry of the list is empty"},
        {"reply_limit", "0", "0", ""},
        {"reply_limit", "-1", "", "Please enter an integer between 0 and 1000."},
        {"webhook_url", "https://hooks.example:8443/sms?x=1", "https://hooks.example:8443/sms?x=1", ""},
        {"webhook_url", "HTTP://10.0.0.1/", "HTTP://10.0.0.1/", ""},
        {"webhook_url", "file:///etc/passwd", "", "not an http:// or https:// address"},
        {"webhook_url", "https:///nohost", "", "not an http:// or https:// address"},
        {"webhook_url", "hooks.example", "", "not an http:// or https:// address"},
        {"webhook_secret", "s3cret", "********", ""},
        {"http_listen", "127.0.0.1:8470", "127.0.0.1:8470", ""},
        {"http_listen", "[::1]:0", "[::1]:0", ""},
        {"http_listen", "", "", ""},
        {"http_listen", "127.0.0.1", "", "not HOST:PORT (127.0.0.1:8470, [::1]:8470)"},
        {"http_listen", "::1:8470", "", "not HOST:PORT (127.0.0.1:8470, [::1]:8470)"},
        {"http_listen", "127.0.0.1:65536", "", "not HOST:PORT (127.0.0.1:8470, [::1]:8470)"},
        {"http_token", "t0ken", "********", ""},
        {"outbox_status_sql", "select status from smsout where msgid=<MSGID>", "", ""},
        {"outbox_status_sql", "select status from smsout where msgid='x<MSGID>'", "",
         "<MSGID> is part of a longer quoted text: an outside value must fill a whole literal ('<MSGID>') or stand "
         "bare"},
    };
    for (const Case& c : cases) {
        const SettingField* field = FindSettingField(c.name);
        ASSERT_NE(field, nullptr) << c.name;
        CSettings settings;
        settings.SetDefaults();
        const CSettings before = settings;
        const std::optional<std::string> error = AssignSetting(*field, c.value, settings);
        if (c.reason.empty()) {
            EXPECT_FALSE(error) << c.name << "=" << c.value << ": " << *error;
            if (!c.shown.empty()) {
                EXPECT_EQ(ShowSetting(*field, settings), c.shown) << c.name;
            }
        } else {
            EXPECT_EQ(error.value_or("<accepted>"), c.reason) << c.name << "=" << c.value;
            EXPECT_EQ(EncodeSettings(settings), EncodeSettings(before)) << c.name;
        }
    }
    EXPECT_EQ(FindSettingField("m_nPort"), nullptr);
}

TEST(SettingFields, EmptySecretsAndStoredOutOfRangeValuesShowAsTheyAre) {
    CSettings settings;
    settings.m_nBaudRate = 9;
    EXPECT_EQ(ShowSetting(*FindSettingField("pin"), settings), "");
    EXPECT_EQ(ShowSetting(*FindSettingField("db_password"), settings), "");
    EXPECT_EQ(ShowSetting(*FindSettingField("baud_rate"), settings), "9");
}

namespace {

// The process's record on a settings file in a folder of its own, as the gateway has it.
struct SharedSettings : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("Pellwick.ini");
    ErrorMessageHook previous = SetErrorMessageHook([](const std::string&, const std::string&) {});

    SharedSettings() {
        SetSettingsPath(path);
        theSettings = CSettings();
        LoadSettings();
    }
    ~SharedSettings() override {
        SetErrorMessageHook(previous);
        ::unsetenv("CREDENTIALS_DIRECTORY");
    }

    // What `-set` does in another process.
    void SetFromShell(const std::function<void(CSettings&)>& change) {
        CSettingsLock lock;
        CSettings other;
        ASSERT_EQ(LoadSettingsFile(other, path), 1);
        change(other);
        ASSERT_EQ(SaveSettingsFile(other, path), 1);
    }
};

}  // namespace

TEST_F(SharedSettings, AChangeFromTheShellReachesTheRecordAndSurvivesTheGatewaysSaves) {
    EXPECT_EQ(StateFolder(), dir.path());
    EXPECT_EQ(SyncSettings(), EFFECT_NONE);

    SetFromShell([](CSettings& s) {
        s.m_strDsn = "Sales";
        s.m_nRetryInterval = 5;
    });
    ASSERT_TRUE(WriteStoredPin("1234"));
    EXPECT_EQ(fs::status(dir.file("Pellwick.pin")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // The gateway counts a message and edits a setting in its window before it notices.
    theSettings.m_nSent = 7;
    theSettings.m_nRetryCount = 9;
    ASSERT_EQ(SaveSettings(), 1);
    CSettings file;
    ASSERT_EQ(LoadSettingsFile(file, path), 1);
    EXPECT_EQ(file.m_strDsn, "Sales");
    EXPECT_EQ(file.m_nRetryInterval, 5);
    EXPECT_EQ(file.m_nRetryCount, 9);
    EXPECT_EQ(file.m_nSent, 7);

    // The next sync reports what the save took in, and the PIN, once.
    EXPECT_EQ(SyncSettings(), EFFECT_DEVICE | EFFECT_DATABASE | EFFECT_OTHER);
    EXPECT_EQ(theSettings.m_strDsn, "Sales");
    EXPECT_EQ(theSettings.m_strPin, "1234");
    EXPECT_EQ(SyncSettings(), EFFECT_NONE);

    // A setting without a link of its own changes nothing but the record.
    SetFromShell([](CSettings& s) { s.m_nQueryInterval = 3; });
    EXPECT_EQ(SyncSettings(), EFFECT_OTHER);
    EXPECT_EQ(theSettings.m_nQueryInterval, 3);
    EXPECT_EQ(theSettings.m_nSent, 7);

    // Removing the PIN removes its file.
    ASSERT_TRUE(WriteStoredPin(""));
    EXPECT_FALSE(fs::exists(dir.file("Pellwick.pin")));
    EXPECT_EQ(SyncSettings(), EFFECT_DEVICE | EFFECT_OTHER);
    EXPECT_EQ(theSettings.m_strPin, "");
}

// The HTTP token: the credential, else its file, else the setting.
TEST_F(SharedSettings, HttpTokenFromCredentialThenFileThenSetting) {
    CSettings settings;
    settings.m_strHttpToken = "from-settings";
    EXPECT_EQ(ReadHttpToken(settings), "from-settings");
    std::ofstream(dir.file("Pellwick.http-token")) << "from-file\n";
    EXPECT_EQ(ReadHttpToken(settings), "from-file");
    TempDir credentials;
    std::ofstream(credentials.file("http-token")) << "from-credential\r\n";
    ::setenv("CREDENTIALS_DIRECTORY", credentials.path().c_str(), 1);
    EXPECT_EQ(ReadHttpToken(settings), "from-credential");
    ::unsetenv("CREDENTIALS_DIRECTORY");
    // A link in its place is not followed.
    fs::remove(dir.file("Pellwick.http-token"));
    fs::create_symlink(credentials.file("http-token"), dir.file("Pellwick.http-token"));
    EXPECT_EQ(ReadHttpToken(settings), "from-settings");
}

TEST_F(SharedSettings, TheServiceManagersCredentialComesBeforeThePinFile) {
    ASSERT_TRUE(WriteStoredPin("1234"));
    EXPECT_EQ(ReadStoredPin(), "1234");
    TempDir credentials;
    std::ofstream(credentials.file("pin")) << "9876\r\n";
    ::setenv("CREDENTIALS_DIRECTORY", credentials.path().c_str(), 1);
    EXPECT_EQ(ReadStoredPin(), "9876");
    // A reload request reads the files again whatever their time stamps say.
    EXPECT_EQ(SyncSettings(true), EFFECT_DEVICE | EFFECT_OTHER);
    EXPECT_EQ(theSettings.m_strPin, "9876");
}

// The settings beyond the record live in Pellwick.conf: a hand-edited file keeps its
// comments and unknown names (reported in the journal), and a bad value keeps the old one.
TEST_F(SharedSettings, ConfFileKeepsWhatItDoesNotKnowAndTakesChangesFromTheShell) {
    const std::string conf = dir.file("Pellwick.conf");
    auto read = [&] {
        std::ifstream in(conf);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(), "# Settings of the gateway beyond Pellwick.ini: name=value, one per line.\n"
                      "multipart_join=1\nmultipart_timeout=10\nreport_sql=\nclaim_sql=\nrelease_sql=\n"
                      "reclaim_sql=\nclaim_timeout=30\nreply_numbers=\nreply_limit=3\noutbox_insert_sql=" +
                          std::string(DEFAULT_OUTBOX_INSERT_SQL) + "\nwebhook_url=\nwebhook_secret=\nhttp_listen=\nhttp_token=\noutbox_status_sql=" +
                          std::string(DEFAULT_OUTBOX_STATUS_SQL) + "\n");

    JournalCapture journal(dir.file("log.sock"));
    std::ofstream(conf) << "# mine\n report_sql = update smsout set delivered=<STATUS> where msgid='<MSGID>'\n"
                           "colour=blue\nmultipart_timeout=abc\nmultipart_join=0\nmultipart_join=0\n";
    EXPECT_EQ(SyncSettings(), EFFECT_OTHER);
    EXPECT_EQ(theSettings.m_strReportSql, "update smsout set delivered=<STATUS> where msgid='<MSGID>'");
    EXPECT_EQ(theSettings.m_nMultipartTimeout, 10);
    EXPECT_EQ(theSettings.m_bMultipartJoin, 0);
    journal.Lines("multipart_timeout");  // the last of the lines
    EXPECT_TRUE(journal.Has("Pellwick.conf line 3: unknown setting 'colour' kept unused"));
    EXPECT_TRUE(journal.Has("Pellwick.conf line 4: multipart_timeout: Please enter an integer."));

    theSettings.m_nMultipartTimeout = 30;
    theSettings.m_strWebhookSecret = "s3cret";  // kept as it is: the file is private
    ASSERT_EQ(SaveSettings(), 1);
    EXPECT_EQ(read(), "# mine\nreport_sql=update smsout set delivered=<STATUS> where msgid='<MSGID>'\n"
                      "colour=blue\nmultipart_timeout=30\nmultipart_join=0\nclaim_sql=\nrelease_sql=\n"
                      "reclaim_sql=\nclaim_timeout=30\nreply_numbers=\nreply_limit=3\noutbox_insert_sql=" +
                          std::string(DEFAULT_OUTBOX_INSERT_SQL) + "\nwebhook_url=\nwebhook_secret=s3cret\nhttp_listen=\nhttp_token=\n"
                          "outbox_status_sql=" + std::string(DEFAULT_OUTBOX_STATUS_SQL) + "\n");
    EXPECT_EQ(fs::status(conf).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    SetFromShell([](CSettings& s) { s.m_strReportSql.clear(); });
    EXPECT_EQ(SyncSettings(), EFFECT_OTHER);
    EXPECT_EQ(theSettings.m_strReportSql, "");
    EXPECT_EQ(theSettings.m_nMultipartTimeout, 30);
}
