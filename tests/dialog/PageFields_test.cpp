#include "PagesFixture.h"

#include "dialog/DialogFields.h"
#include "dialog/InformationPage.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>

#include <climits>
#include <optional>

namespace {

TEST_F(PagesTest, TextFieldsTakeNoMoreBytesThanTheFileHolds) {
    settings.m_bDailyReport = 1;  // enables "Phone No."
    Show();
    struct Case {
        const char* field;
        int bytes;
    };
    const Case cases[] = {{"smsc", 31},       {"pin", 31},       {"dsn", 31},       {"dbUser", 31},
                          {"dbPassword", 31}, {"reportPhone", 31}, {"selectSql", 255}, {"updateSql", 255},
                          {"insertSql", 255}};
    for (const Case& c : cases) {
        auto* edit = Field<QLineEdit>(c.field);
        edit->clear();
        QTest::keyClicks(edit, QString(c.bytes + 9, QLatin1Char('7')));
        EXPECT_EQ(edit->text().toUtf8().size(), c.bytes) << c.field;
        // Two-byte characters: the one that would cross the limit is refused whole.
        edit->clear();
        TypeText(edit, QString(c.bytes, QChar(0x00E9)));
        EXPECT_EQ(edit->text().size(), c.bytes / 2) << c.field;
        EXPECT_LE(edit->text().toUtf8().size(), c.bytes) << c.field;
        // A pasted text that does not fit is refused whole.
        edit->clear();
        edit->insert(QString(c.bytes - 2, QLatin1Char('a')));
        edit->insert("bcd");
        EXPECT_EQ(edit->text(), QString(c.bytes - 2, QLatin1Char('a'))) << c.field;
    }
}

TEST_F(PagesTest, ALongerRecordTextIsShownCutAtACharacter) {
    settings.m_strSmsc = std::string(30, '1') + "\xC3\xA9" + "99";  // the cut would split the é
    settings.m_strSelectSql = std::string(300, 's');
    Show();
    EXPECT_EQ(Field<QLineEdit>("smsc")->text().toStdString(), std::string(30, '1'));
    EXPECT_EQ(Field<QLineEdit>("selectSql")->text().size(), 255);
}

TEST(NumberField, SpinButtonsStayInTheSpinRangeWhileAnyTextMayBeTyped) {
    OffscreenApp();
    struct Case {
        const char* text;
        int steps;
        const char* after;
    };
    const Case cases[] = {
        {"10", 1, "11"}, {"10", -10, "3"}, {"32767", 1, "32767"}, {"0", 1, "3"},
        {"90000", -1, "32767"}, {"abc", 1, "3"}, {"", -1, "3"},
    };
    for (const Case& c : cases) {
        CNumberField field(3, 32767);
        field.SetText(c.text);
        EXPECT_EQ(field.Text(), c.text);
        field.stepBy(c.steps);
        EXPECT_EQ(field.Text(), c.after) << c.text << " " << c.steps;
    }
    CNumberField field(3, 32767);
    QTest::keyClicks(&field, "-5x");
    EXPECT_EQ(field.Text(), "-5x");
}

TEST(NumberField, ParseInteger) {
    struct Case {
        const char* text;
        std::optional<int> value;
    };
    const Case cases[] = {
        {"0", 0},          {" 42 ", 42},   {"-7", -7},         {"+8", 8},        {"2147483647", 2147483647},
        {"", std::nullopt}, {"4 2", std::nullopt}, {"12a", std::nullopt}, {"0x10", std::nullopt},
        {"2147483648", std::nullopt}, {"1.5", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseInteger(c.text), c.value) << c.text;
}

TEST_F(PagesTest, InformationBarsAndBatteryStoreBack) {
    Show();
    auto* battery = Field<QProgressBar>("batteryLevel");
    auto* signal = Field<QProgressBar>("signalLevel");
    EXPECT_EQ(battery->minimum(), 1);
    EXPECT_EQ(battery->maximum(), 5);
    EXPECT_EQ(signal->minimum(), 1);
    EXPECT_EQ(signal->maximum(), 5);
    struct Case {
        int battery, signal;
        int batteryBar, signalBar;
        bool storedBack;
    };
    const Case cases[] = {
        {-1, 0, 5, 1, true},   {101, 5, 5, 1, true},   {0, 10, 1, 2, false},  {19, 15, 1, 3, false},
        {40, 20, 2, 3, false}, {99, 26, 4, 5, false},  {100, 31, 5, 5, false}, {60, 99, 3, 5, false},
        {80, -1, 4, 1, false}, {INT_MIN, INT_MAX, 5, 5, true},
    };
    for (const Case& c : cases) {
        storedBattery.clear();
        device.battery = c.battery;
        device.signal = c.signal;
        pages->InformationPage()->Refresh();
        EXPECT_EQ(battery->value(), c.batteryBar) << c.battery;
        EXPECT_EQ(signal->value(), c.signalBar) << c.signal;
        EXPECT_EQ(storedBattery, c.storedBack ? std::vector<int>{100} : std::vector<int>{}) << c.battery;
    }
}

TEST_F(PagesTest, InformationShowsDeviceCountersAndStatus) {
    Show();
    device.brand = "SIEMENS";
    device.model = "MC35i";
    device.imei = "351234567890123";
    device.network = "Roaming";
    settings.m_nSent = 12;
    settings.m_nUnsent = 3;
    settings.m_nReceived = 40;
    settings.m_nFailed = 1;
    pages->InformationPage()->Refresh();
    const std::pair<const char*, const char*> shown[] = {
        {"brand", "SIEMENS"}, {"model", "MC35i"}, {"imei", "351234567890123"}, {"sent", "12"},
        {"unsent", "3"},      {"received", "40"}, {"failed", "1"},            {"serviceStatus", "Idle."},
        {"network", "Roaming"}};
    for (auto [name, text] : shown) EXPECT_EQ(Field<QLabel>(name)->text(), text) << name;
}

TEST_F(PagesTest, InformationRefreshesByItselfWhileHidden) {
    Show();
    ASSERT_FALSE(pages->isVisible());
    device.battery = -1;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !storedBattery.empty(); }, 10000));
    EXPECT_EQ(device.battery, 100);
    device.model = "later";
    EXPECT_TRUE(QTest::qWaitFor([&] { return Field<QLabel>("model")->text() == "later"; }, 10000));
}

}  // namespace
