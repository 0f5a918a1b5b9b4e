#include "ManualTables.h"

#include "config/ConfFile.h"
#include "config/SettingFields.h"
#include "config/Settings.h"
#include "engine/StatusBoard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

std::string Unescaped(const std::string& markdown) {
    std::string text;
    for (std::size_t i = 0; i < markdown.size(); ++i) {
        if (markdown[i] == '\\' && i + 1 < markdown.size()) ++i;
        text += markdown[i];
    }
    return text;
}

// The table's row of a setting, its markup removed; "" when there is none.
std::string RowOf(const std::string& table, const std::string& name) {
    std::istringstream lines(Unescaped(table));
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("| **" + name + "** |")) return line;
    return std::string();
}

}  // namespace

// Every setting has one row with its file, the default of a new file as -show prints it
// (long ones below the table), its values and its description.
TEST(Manual, SettingsTableFollowsTheFields) {
    CSettings defaults;
    defaults.SetDefaults();
    const std::string table = SettingsTable();
    const std::string plain = Unescaped(table);
    for (const SettingField& field : SettingFields()) {
        SCOPED_TRACE(field.name);
        ASSERT_TRUE(field.description && *field.description);
        const std::string row = RowOf(table, field.name);
        ASSERT_FALSE(row.empty());
        const std::string file = field.text == &CSettings::m_strPin ? ".pin"
                                 : IsConfSetting(field.name)        ? ".conf"
                                                                    : ".ini";
        EXPECT_NE(row.find("| *" + file + "* |"), std::string::npos) << row;
        const std::string shown = ShowSetting(field, defaults);
        const bool inRow = row.find("| " + shown + " |") != std::string::npos ||
                           row.find("| `" + shown + "` |") != std::string::npos ||
                           (shown.empty() && row.find("| *empty* |") != std::string::npos);
        const bool below = row.find("| see below |") != std::string::npos &&
                           plain.find("\n" + std::string(field.name) + "=" + shown + "\n") != std::string::npos;
        EXPECT_TRUE(inRow || below) << row;
        EXPECT_TRUE(row.ends_with("| " + std::string(field.description) + " |")) << row;
        EXPECT_EQ(row.find("secret") != std::string::npos, field.secret) << row;
    }
    EXPECT_NE(RowOf(table, "baud_rate").find("| 9600, 19200, 38400, 57600 or 115200 |"), std::string::npos);
    EXPECT_NE(RowOf(table, "long_sms").find("| 1 | 0 or 1 |"), std::string::npos);
    EXPECT_NE(RowOf(table, "query_interval").find("| 5 | at least 1 |"), std::string::npos);
    // No row for a setting the program does not have.
    std::size_t rows = 0;
    for (std::size_t at = plain.find("\n| **"); at != std::string::npos; at = plain.find("\n| **", at + 1)) ++rows;
    EXPECT_EQ(rows, SettingFields().size());
}

TEST(Manual, StatusTableHasEveryCodeWithAdvice) {
    const std::string table = StatusTable();
    int codes = 0;
    for (int code = 1; *StatusText(code); ++code, ++codes) {
        SCOPED_TRACE(code);
        EXPECT_TRUE(StatusAdvice(code));
        EXPECT_NE(Unescaped(table).find("| " + std::to_string(code) + " | " + StatusText(code) + " | "),
                  std::string::npos);
    }
    EXPECT_EQ(codes, STATUS_NET_NONE);
}

#ifdef PW_MAN_PAGE
TEST(Manual, ManPageNamesEverySetting) {
    std::string page;
    FILE* pipe = ::popen("gzip -dc '" PW_MAN_PAGE "'", "r");
    ASSERT_TRUE(pipe);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) page.append(buffer, n);
    ASSERT_EQ(::pclose(pipe), 0);
    for (const SettingField& field : SettingFields())
        EXPECT_NE(page.find(std::string("\\f[B]") + field.name + "\\f[R]"), std::string::npos) << field.name;
    EXPECT_NE(page.find("Not registered on a network"), std::string::npos);
}
#endif
