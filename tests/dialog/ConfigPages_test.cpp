#include "PagesFixture.h"

#include "dialog/DialogFields.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <climits>
#include <functional>

// Fontconfig keeps a cache for the life of the process, which LeakSanitizer reports.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

// A record whose showing sets no change flag: no text in the connection fields.
CSettings QuietRecord() {
    CSettings s;
    s.SetDefaults();
    s.m_strDsn.clear();
    return s;
}

TEST_F(PagesTest, TabsButtonsLabelsAndLists) {
    Show();
    EXPECT_EQ(pages->windowTitle(), "Orvane Pellwick 1.7");
    const QStringList tabs = {"Device", "Database", "Message", "Information"};
    ASSERT_EQ(pages->Tabs()->count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(pages->Tabs()->tabText(i), tabs[i]);
    EXPECT_EQ(CurrentTab(), CConfigPages::TAB_INFORMATION);
    EXPECT_EQ(pages->OkButton()->text(), "OK");
    EXPECT_EQ(pages->ApplyButton()->text(), "Apply");
    EXPECT_EQ(pages->CancelButton()->text(), "Cancel");
    EXPECT_EQ(pages->HelpButton()->text(), "Help");

    QStringList texts;
    for (const QLabel* label : pages->findChildren<QLabel*>()) texts << label->text();
    for (const QCheckBox* box : pages->findChildren<QCheckBox*>()) texts << box->text();
    for (const char* expected :
         {"Port Number", "COM Baudrate", "SMS Retry Interval(s)", "SMS Retry Count", "SMS Center Number", "PIN Code",
          "(if required)", "Long SMS Mode", "DSN", "User", "Password", "Query Interval(s)", "Select", "Update",
          "Insert", "Sending Period Limit", "Start Time", "End Time", "DB Connection Lost Warning",
          "Send Daily Report", "Report Time", "Battery Low Warning", "Phone No.", " Start Service when OS starts",
          "Brand", "Model", "IMEI", "Battery Level", "Signal Level", "Sent", "Unsent", "Received", "Failed",
          "Service Status"})
        EXPECT_TRUE(texts.contains(expected)) << expected;

    const QStringList ports = Items(Field<QComboBox>("port"));
    ASSERT_EQ(ports.size(), 17);
    EXPECT_EQ(ports.front(), "Infrared");
    EXPECT_EQ(ports[1], "COM1");
    EXPECT_EQ(ports.back(), "COM16");
    EXPECT_EQ(Items(Field<QComboBox>("baudRate")), QStringList({"9600", "19200", "38400", "57600", "115200"}));
    for (const char* name : {"startTime", "endTime", "reportTime"}) {
        const QStringList hours = Items(Field<QComboBox>(name));
        ASSERT_EQ(hours.size(), 25) << name;
        EXPECT_EQ(hours[0], " 0:00 AM");
        EXPECT_EQ(hours[9], " 9:00 AM");
        EXPECT_EQ(hours[11], "11:00 AM");
        EXPECT_EQ(hours[12], "12:00 AM");
        EXPECT_EQ(hours[13], " 1:00 PM");
        EXPECT_EQ(hours[23], "11:00 PM");
        EXPECT_EQ(hours[24], "12:00 PM");
    }
    EXPECT_EQ(Field<QLineEdit>("pin")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Field<QLineEdit>("dbPassword")->echoMode(), QLineEdit::Password);
}

TEST_F(PagesTest, ShowingPutsTheRecordIntoTheControls) {
    settings.SetDefaults();
    settings.m_nPort = 5;
    settings.m_nBaudRate = 4;
    settings.m_nRetryInterval = 60;
    settings.m_strSmsc = "+4917";
    settings.m_nQueryInterval = 7;
    settings.m_nStartTime = 8;
    settings.m_bDailyReport = 1;
    settings.m_strReportPhone = "+4915";
    Show();
    EXPECT_EQ(Field<QComboBox>("port")->currentText(), "COM5");
    EXPECT_EQ(Field<QComboBox>("baudRate")->currentText(), "115200");
    EXPECT_EQ(Field<CNumberField>("retryInterval")->Text(), "60");
    EXPECT_EQ(Field<CNumberField>("retryCount")->Text(), "3");
    EXPECT_EQ(Field<QLineEdit>("smsc")->text(), "+4917");
    EXPECT_EQ(Field<QLineEdit>("dsn")->text(), "DADIvav");
    EXPECT_EQ(Field<CNumberField>("queryInterval")->Text(), "7");
    EXPECT_EQ(Field<QLineEdit>("selectSql")->text().toStdString(), DEFAULT_SELECT_SQL);
    EXPECT_EQ(Field<QComboBox>("startTime")->currentIndex(), 8);
    EXPECT_TRUE(Field<QCheckBox>("dailyReport")->isChecked());
    EXPECT_TRUE(Field<QCheckBox>("autoStart")->isChecked());
    EXPECT_EQ(Field<QLineEdit>("reportPhone")->text(), "+4915");
}

TEST_F(PagesTest, InfraredDisablesTheBaudRate) {
    Show();
    auto* port = Field<QComboBox>("port");
    auto* baud = Field<QComboBox>("baudRate");
    EXPECT_TRUE(baud->isEnabled());
    port->setCurrentIndex(0);
    EXPECT_FALSE(baud->isEnabled());
    port->setCurrentIndex(16);
    EXPECT_TRUE(baud->isEnabled());
    port->setCurrentIndex(0);
    // A showing reloads the enabling with the record's port.
    pages->LoadFromSettings();
    EXPECT_TRUE(baud->isEnabled());
    settings.m_nPort = 0;
    pages->LoadFromSettings();
    EXPECT_FALSE(baud->isEnabled());
}

TEST_F(PagesTest, MessagePageEnabling) {
    Show();
    auto* daily = Field<QCheckBox>("dailyReport");
    auto* battery = Field<QCheckBox>("batteryWarning");
    auto* dbLost = Field<QCheckBox>("dbLostWarning");
    auto* period = Field<QCheckBox>("sendingPeriod");
    auto* phone = Field<QLineEdit>("reportPhone");
    // All three start unchecked.
    EXPECT_FALSE(phone->isEnabled());
    EXPECT_FALSE(Field<QComboBox>("reportTime")->isEnabled());
    for (QCheckBox* box : {daily, battery, dbLost}) {
        box->click();
        EXPECT_TRUE(phone->isEnabled()) << box->text().toStdString();
        box->click();
        EXPECT_FALSE(phone->isEnabled()) << box->text().toStdString();
    }
    daily->click();
    EXPECT_TRUE(Field<QComboBox>("reportTime")->isEnabled());
    EXPECT_TRUE(period->isChecked());
    EXPECT_TRUE(Field<QComboBox>("startTime")->isEnabled());
    period->click();
    EXPECT_FALSE(Field<QComboBox>("startTime")->isEnabled());
    EXPECT_FALSE(Field<QComboBox>("endTime")->isEnabled());
    EXPECT_TRUE(period->isEnabled());
    EXPECT_TRUE(daily->isEnabled());
}

TEST_F(PagesTest, ChangeFlagsAfterAShowing) {
    struct Case {
        const char *smsc, *dsn, *user, *password;
        int device, db;
    };
    const Case cases[] = {
        {"", "", "", "", 0, 0},
        {"+49", "", "", "", 1, 0},
        {"", "DADIvav", "", "", 0, 1},
        {"", "", "sa", "", 0, 1},
        {"", "", "", "secret", 0, 1},
    };
    for (const Case& c : cases) {
        pages.reset();
        settings = QuietRecord();
        settings.m_strSmsc = c.smsc;
        settings.m_strDsn = c.dsn;
        settings.m_strDbUser = c.user;
        settings.m_strDbPassword = c.password;
        settings.m_bDeviceChanged = settings.m_bDbChanged = 1;
        Show();
        EXPECT_EQ(settings.m_bDeviceChanged, c.device) << c.smsc;
        EXPECT_EQ(settings.m_bDbChanged, c.db) << c.dsn << c.user << c.password;
        EXPECT_FALSE(ApplyEnabled());
        // The fields already show these texts: a second showing changes nothing.
        Show();
        EXPECT_EQ(settings.m_bDeviceChanged, 0);
        EXPECT_EQ(settings.m_bDbChanged, 0);
    }
}

TEST_F(PagesTest, ChangeFlagsAfterEdits) {
    struct Case {
        const char* what;
        std::function<void(PagesTest&)> edit;
        int device, db;
    };
    const Case cases[] = {
        {"port", [](PagesTest& t) { t.Field<QComboBox>("port")->setCurrentIndex(3); }, 1, 0},
        {"baud", [](PagesTest& t) { t.Field<QComboBox>("baudRate")->setCurrentIndex(2); }, 1, 0},
        {"smsc", [](PagesTest& t) { QTest::keyClicks(t.Field<QLineEdit>("smsc"), "+1"); }, 1, 0},
        {"pin", [](PagesTest& t) { QTest::keyClicks(t.Field<QLineEdit>("pin"), "1234"); }, 1, 0},
        {"retry count", [](PagesTest& t) { t.Field<CNumberField>("retryCount")->SetText("9"); }, 0, 0},
        {"retry interval", [](PagesTest& t) { t.Field<CNumberField>("retryInterval")->stepBy(1); }, 0, 0},
        {"long sms", [](PagesTest& t) { t.Field<QCheckBox>("longSms")->click(); }, 0, 0},
        {"dsn", [](PagesTest& t) { QTest::keyClicks(t.Field<QLineEdit>("dsn"), "x"); }, 0, 1},
        {"user", [](PagesTest& t) { QTest::keyClicks(t.Field<QLineEdit>("dbUser"), "x"); }, 0, 1},
        {"password", [](PagesTest& t) { QTest::keyClicks(t.Field<QLineEdit>("dbPassword"), "x"); }, 0, 1},
        {"query interval", [](PagesTest& t) { t.Field<CNumberField>("queryInterval")->SetText("4"); }, 0, 0},
        {"select", [](PagesTest& t) { QTest::keyClicks(t.Field<QLineEdit>("selectSql"), " "); }, 0, 0},
        {"insert", [](PagesTest& t) { QTest::keyClicks(t.Field<QLineEdit>("insertSql"), " "); }, 0, 0},
        {"report", [](PagesTest& t) { t.Field<QCheckBox>("dailyReport")->click(); }, 0, 0},
        {"end time", [](PagesTest& t) { t.Field<QComboBox>("endTime")->setCurrentIndex(24); }, 0, 0},
        {"phone", [](PagesTest& t) { t.Field<QLineEdit>("reportPhone")->setText("1"); }, 0, 0},
        {"auto start", [](PagesTest& t) { t.Field<QCheckBox>("autoStart")->click(); }, 0, 0},
    };
    for (const Case& c : cases) {
        pages.reset();
        settings = QuietRecord();
        Show();
        ASSERT_FALSE(ApplyEnabled());
        c.edit(*this);
        EXPECT_TRUE(ApplyEnabled()) << c.what;
        EXPECT_EQ(settings.m_bDeviceChanged, c.device) << c.what;
        EXPECT_EQ(settings.m_bDbChanged, c.db) << c.what;
    }
}

TEST_F(PagesTest, ApplyAfterEditingOnlyTheRetryCount) {
    settings = QuietRecord();
    run.m_bRunning = 0;
    run.m_bDeviceLinked = 1;
    run.m_bDatabaseLinked = 1;
    Show();
    pages->SelectTab(CConfigPages::TAB_DEVICE);
    Field<CNumberField>("retryCount")->SetText("7");
    ASSERT_TRUE(ApplyEnabled());
    pages->ApplyButton()->click();

    EXPECT_EQ(calls, (std::vector<std::string>{"retry", "save", "autostart"}));
    EXPECT_EQ(retryInterval, 3);
    EXPECT_EQ(attempts, 8);
    EXPECT_EQ(saved.m_nRetryCount, 7);
    EXPECT_EQ(autoStart, 1);
    EXPECT_EQ(run.m_bRunning, 0);
    EXPECT_EQ(run.m_bDeviceLinked, 1);
    EXPECT_EQ(run.m_bDatabaseLinked, 1);
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_EQ(CurrentTab(), CConfigPages::TAB_INFORMATION);
}

TEST_F(PagesTest, AFlagLeftFromTheShowingStillDropsItsLinkAtEveryApply) {
    settings = QuietRecord();
    settings.m_strSmsc = "+49";
    run.m_bDeviceLinked = 1;
    run.m_bDatabaseLinked = 1;
    Show();
    Field<CNumberField>("retryCount")->SetText("0");
    pages->ApplySettings();
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(run.m_bDeviceLinked, 0);
    EXPECT_EQ(run.m_bDatabaseLinked, 1);
    // The commit leaves the flag set: a second Apply drops the link again.
    run.m_bDeviceLinked = 1;
    pages->ApplySettings();
    EXPECT_EQ(settings.m_bDeviceChanged, 1);
    EXPECT_EQ(run.m_bDeviceLinked, 0);
}

TEST_F(PagesTest, DsnEditWhilePausedResumesAndReopensTheDatabase) {
    TempDir dir;
    const std::string path = dir.file("Pellwick.ini");
    settings = QuietRecord();
    run.m_bRunning = 0;
    run.m_bDeviceLinked = 1;
    run.m_bDatabaseLinked = 1;
    ConfigHooks hooks = Hooks();
    hooks.saveSettings = [&] { return SaveSettingsFile(settings, path); };
    pages = std::make_unique<CConfigPages>(settings, run, hooks);
    pages->LoadFromSettings();
    auto* dsn = Field<QLineEdit>("dsn");
    QTest::keyClicks(dsn, "smsdb");
    pages->ApplySettings();
    EXPECT_EQ(run.m_bRunning, 1);
    EXPECT_EQ(run.m_bDatabaseLinked, 0);
    EXPECT_EQ(run.m_bDeviceLinked, 1);
    CSettings reread;
    ASSERT_EQ(LoadSettingsFile(reread, path), 1);
    EXPECT_EQ(reread.m_strDsn, "smsdb");
}

TEST_F(PagesTest, CancelThenShowingAgainReloadsTheRecord) {
    settings = QuietRecord();
    Show();
    Field<QComboBox>("port")->setCurrentIndex(0);
    QTest::keyClicks(Field<QLineEdit>("dsn"), "other");
    Field<CNumberField>("retryInterval")->SetText("99");
    Field<QCheckBox>("batteryWarning")->click();
    pages->CancelButton()->click();
    EXPECT_EQ(calls, std::vector<std::string>{"hide"});
    EXPECT_EQ(settings.m_nPort, 1);
    EXPECT_EQ(settings.m_strDsn, "");

    pages->LoadFromSettings();
    EXPECT_EQ(Field<QComboBox>("port")->currentIndex(), 1);
    EXPECT_TRUE(Field<QComboBox>("baudRate")->isEnabled());
    EXPECT_EQ(Field<QLineEdit>("dsn")->text(), "");
    EXPECT_EQ(Field<CNumberField>("retryInterval")->Text(), "3");
    EXPECT_FALSE(Field<QCheckBox>("batteryWarning")->isChecked());
    EXPECT_FALSE(Field<QLineEdit>("reportPhone")->isEnabled());
    EXPECT_FALSE(ApplyEnabled());
    // Emptying the DSN field was a change of its text.
    EXPECT_EQ(settings.m_bDbChanged, 1);
}

TEST_F(PagesTest, ABadNumberStopsTheWholeCommit) {
    struct Case {
        const char* field;
        const char* text;
        int tab;
        const char* message;
    };
    const Case cases[] = {
        {"retryInterval", "86401", 0, "Please enter an integer between 0 and 86400."},
        {"retryInterval", "-1", 0, "Please enter an integer between 0 and 86400."},
        {"retryInterval", "", 0, "Please enter an integer."},
        {"retryCount", "1001", 0, "Please enter an integer between 0 and 1000."},
        {"retryCount", "3x", 0, "Please enter an integer."},
        {"retryCount", "99999999999", 0, "Please enter an integer."},
        {"queryInterval", "0", 1, "Please enter an integer between 1 and 2147483647."},
        {"queryInterval", "five", 1, "Please enter an integer."},
    };
    for (const Case& c : cases) {
        pages.reset();
        settings = QuietRecord();
        run.m_bRunning = 1;
        run.m_bDeviceLinked = 1;
        run.m_bDatabaseLinked = 1;
        calls.clear();
        messages.clear();
        Show();
        // Edits on every page that would change the record and drop both links.
        QTest::keyClicks(Field<QLineEdit>("smsc"), "+49");
        QTest::keyClicks(Field<QLineEdit>("dsn"), "smsdb");
        Field<QCheckBox>("dailyReport")->click();
        Field<CNumberField>(c.field)->SetText(c.text);
        pages->SelectTab(CConfigPages::TAB_MESSAGE);
        pages->OkButton()->click();

        EXPECT_EQ(messages, std::vector<std::string>{c.message}) << c.field << " " << c.text;
        EXPECT_EQ(CurrentTab(), c.tab);
        EXPECT_TRUE(calls.empty()) << calls.front();  // no driver values, no save, not hidden
        EXPECT_EQ(settings.m_strSmsc, "");
        EXPECT_EQ(settings.m_strDsn, "");
        EXPECT_EQ(settings.m_bDailyReport, 0);
        EXPECT_EQ(run.m_bDeviceLinked, 1);
        EXPECT_EQ(run.m_bDatabaseLinked, 1);
        EXPECT_TRUE(ApplyEnabled());
    }
}

TEST_F(PagesTest, NumbersAreAcceptedUpToTheirBounds) {
    settings = QuietRecord();
    Show();
    // The spin range is narrower than what may be typed.
    Field<CNumberField>("retryInterval")->SetText(" 86400 ");
    Field<CNumberField>("retryCount")->SetText("1000");
    Field<CNumberField>("queryInterval")->SetText("1");
    pages->OkButton()->click();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(calls.back(), "hide");
    EXPECT_EQ(settings.m_nRetryInterval, 86400);
    EXPECT_EQ(settings.m_nRetryCount, 1000);
    EXPECT_EQ(attempts, 1001);
    EXPECT_EQ(settings.m_nQueryInterval, 1);
    Field<CNumberField>("retryInterval")->SetText("0");
    Field<CNumberField>("retryCount")->SetText("-0");
    EXPECT_TRUE(pages->ApplySettings());
    EXPECT_EQ(settings.m_nRetryInterval, 0);
    EXPECT_EQ(settings.m_nRetryCount, 0);
}

TEST_F(PagesTest, MessageCommitCarriesEveryValue) {
    settings = QuietRecord();
    settings.m_bLogFile = 0;
    Show();
    Field<QCheckBox>("sendingPeriod")->click();
    Field<QComboBox>("startTime")->setCurrentIndex(0);
    Field<QComboBox>("endTime")->setCurrentIndex(24);
    Field<QCheckBox>("dailyReport")->click();
    Field<QComboBox>("reportTime")->setCurrentIndex(12);
    Field<QCheckBox>("dbLostWarning")->click();
    Field<QCheckBox>("batteryWarning")->click();
    QTest::keyClicks(Field<QLineEdit>("reportPhone"), "+4930");
    Field<QCheckBox>("autoStart")->click();
    ASSERT_TRUE(pages->ApplySettings());
    EXPECT_EQ(settings.m_bSendingPeriod, 0);
    EXPECT_EQ(settings.m_nStartTime, 0);
    EXPECT_EQ(settings.m_nEndTime, 24);
    EXPECT_EQ(settings.m_bDailyReport, 1);
    EXPECT_EQ(settings.m_nReportTime, 12);
    EXPECT_EQ(settings.m_bDbLostWarning, 1);
    EXPECT_EQ(settings.m_bBatteryWarning, 1);
    EXPECT_EQ(settings.m_strReportPhone, "+4930");
    EXPECT_EQ(settings.m_bAutoStart, 0);
    EXPECT_EQ(autoStart, 0);
    EXPECT_EQ(settings.m_bLogFile, 0);
}

TEST_F(PagesTest, EnterAndEscapeNeverCloseTheHostDialog) {
    settings = QuietRecord();
    QDialog host;
    auto* layout = new QVBoxLayout(&host);
    auto* embedded = new CConfigPages(settings, run, Hooks(), &host);
    layout->addWidget(embedded);
    int finished = 0;
    QObject::connect(&host, &QDialog::finished, [&] { ++finished; });
    host.show();
    embedded->LoadFromSettings();
    embedded->Tabs()->setCurrentIndex(CConfigPages::TAB_DATABASE);
    auto* dsn = embedded->findChild<QLineEdit*>("dsn");
    QTest::keyClicks(dsn, "x");
    ASSERT_TRUE(embedded->OkButton()->isEnabled());
    QWidget* targets[] = {dsn, embedded->findChild<CNumberField*>("queryInterval"), embedded->Tabs()->tabBar(),
                          embedded->OkButton(), embedded->CancelButton(), embedded};
    for (QWidget* target : targets)
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(target, key);
            EXPECT_TRUE(host.isVisible()) << target->objectName().toStdString() << " " << key;
        }
    EXPECT_EQ(finished, 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(settings.m_strDsn, "");
}

TEST_F(PagesTest, HelpOpensTheManual) {
    Show();
    pages->HelpButton()->click();
    EXPECT_EQ(calls, std::vector<std::string>{"help"});
}

}  // namespace
