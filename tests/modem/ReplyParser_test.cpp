#include "modem/DeviceQuirks.h"
#include "modem/Mobile.h"
#include "modem/ReplyParser.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct SplitCase {
    const char* name;
    std::string reply;
    std::string prefix;
    int result;
    std::vector<std::string> fields;
};

class SplitReplyTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitReplyTest, Fields) {
    const SplitCase& c = GetParam();
    ReplyFields fields;
    int count = -7;
    EXPECT_EQ(c.result, SplitReply(c.reply, c.prefix, fields, count));
    ASSERT_EQ(static_cast<int>(c.fields.size()), count);
    for (size_t i = 0; i < c.fields.size(); ++i) EXPECT_EQ(c.fields[i], fields[i]) << "field " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SplitReplyTest,
    ::testing::Values(
        SplitCase{"PrefixWithBlankAlready", "+CSQ: 17,99\r\n\r\nOK\r\n", "+CSQ: ", 1, {"17", "99"}},
        SplitCase{"WrongPrefix", "+CSQ: 17,99\r\n\r\nOK\r\n", "+CBC:", -1, {}},
        SplitCase{"PrefixWithoutBlankInReply", "+CSQ:17,99\r\n\r\nOK\r\n", "+CSQ:", -1, {}},
        SplitCase{"QuotesRemoved", "+CPMS: \"SM\",3,20\r\n", "+CPMS:", 1, {"SM", "3", "20"}},
        SplitCase{"ParenthesesRemoved", "+CSCS: (\"GSM\",\"UCS2\")\r\n\r\nOK\r\n", "+CSCS:", 1, {"GSM", "UCS2"}},
        SplitCase{"Empty", "", "", -1, {}},
        SplitCase{"OnlyOk", "OK\r\n", "", 1, {}},
        SplitCase{"TailAfterLastSeparatorDropped", "+CBC: 0,85", "+CBC:", 1, {"0"}},
        SplitCase{"ThreeLineBreaksAreOneSeparator", "A\r\n\r\n\r\nB\r\n", "", 1, {"A", "B"}},
        SplitCase{"LoneCrAndLf", "A\rB\nC\r\n", "", 1, {"A", "B", "C"}},
        SplitCase{"EveryPrefixCopyRemoved", "+CLIP: \"+4912\",145\r\n+CLIP: \"+4934\",145\r\n", "+CLIP:", 1,
                  {"+4912", "145", "+4934", "145"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(SplitReply, StopsAtSixtyFourFields) {
    std::string reply = "+X: ";
    for (int i = 0; i < 100; ++i) reply += std::to_string(i) + ",";
    ReplyFields fields;
    int count = 0;
    EXPECT_EQ(1, SplitReply(reply, "+X:", fields, count));
    EXPECT_EQ(64, count);
    EXPECT_EQ("63", fields[63]);
}

TEST(SplitReply, DriverKeepsTheFieldsOfTheLastReply) {
    CMobile mobile;
    EXPECT_EQ(1, mobile.ParseReply("+CSQ: 17,99\r\n\r\nOK\r\n", "+CSQ:"));
    EXPECT_EQ(2, mobile.m_nFieldCount);
    EXPECT_EQ("17", mobile.m_fields[0]);
    EXPECT_EQ(-1, mobile.ParseReply("+CSQ: 17,99\r\n\r\nOK\r\n", "+CBC:"));
    EXPECT_EQ(0, mobile.m_nFieldCount);
}

struct RangeCase {
    const char* name;
    std::string text;
    int max;
    std::vector<std::string> groups;
};

class RangeGroupsTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeGroupsTest, Groups) {
    const RangeCase& c = GetParam();
    std::vector<std::string> groups;
    EXPECT_EQ(static_cast<int>(c.groups.size()), SplitRangeGroups(groups, c.text, c.max));
    EXPECT_EQ(c.groups, groups);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RangeGroupsTest,
    ::testing::Values(
        RangeCase{"Common", "(0-2),(0-3),(0,2),(0-2),(0,1)", 5, {"0,1,2", "0,1,2,3", "0,2", "0,1,2", "0,1"}},
        RangeCase{"TailBecomesFifthGroup", "(0-2),(0-3),(0,2),(0-2)\r\n\r\nOK\r\n", 5,
                  {"0,1,2", "0,1,2,3", "0,2", "0,1,2", "\n\r\nOK\r\n"}},
        RangeCase{"CappedAtMaximum", "(1),(2),(3),(4),(5),(6)", 5, {"1", "2", "3", "4", "5"}},
        RangeCase{"BareValues", "1,2,3", 5, {"1", "2", "3"}},
        RangeCase{"TwoPlaceRange", "(0-1)", 5, {"0,1"}},
        RangeCase{"DashAtTheEdgesKept", "(-1),(2-)", 5, {"-1", "2-"}},
        RangeCase{"Empty", "", 5, {""}}),
    [](const ::testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.name); });

TEST(CnmiChoice, CommandFromTheTestAnswer) {
    struct Case {
        const char* reply;
        const char* command;
    };
    const Case cases[] = {
        {"+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n", "AT+CNMI=2,3,0,1,0\r"},
        {"+CNMI: (0-2),(0-3),(0,2),(0-2)\r\n\r\nOK\r\n", "AT+CNMI=2,3,0,1,3\r"},
        {"+CNMI: (0-2),(0-3),(0,2),(0-2),\r\n\r\nOK\r\n", "AT+CNMI=2,3,0,1,3\r"},
        {"+CNMI: (0,1),(0,1,2),(2),(0,2)\r\n\r\nOK\r\n", "AT+CNMI=1,1,2,2,3\r"},
        {"+CNMI: (3),(2),(1),(3),(1,2)", "AT+CNMI=3,2,1,3,1\r"},
        {"+CNMI: (0),(0),(3),(0),(3)", "AT+CNMI=0,0,3,0,3\r"},
        {"+CNMI: (0-2),(0-3),(0,2)\r\n\r\nOK", "AT+CNMI=2,3,0,0\r"},  // the tail is a fourth group
        {"+CNMI: (0-2),(0-3)", "AT+CNMI=\r"},
        {"+CNMI:", "AT+CNMI=\r"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.command, CMobile::ChooseCnmiCommand(c.reply)) << c.reply;
}

TEST(DecimalValue, LeadingBlanksSignAndJunk) {
    struct Case {
        const char* text;
        int value;
        bool found;
    };
    for (const Case& c : {Case{"85", 85, true}, Case{"  17", 17, true}, Case{"-3", -3, true},
                          Case{"12abc", 12, true}, Case{"abc", 0, false}, Case{"", 0, false},
                          Case{"99999999999", 2147483647, true}}) {
        bool found = !c.found;
        EXPECT_EQ(c.value, DecimalValue(c.text, &found)) << c.text;
        EXPECT_EQ(c.found, found) << c.text;
    }
}

TEST(DeviceQuirks, CharacterSetChoice) {
    struct Case {
        const char* manufacturer;
        const char* reply;
        const char* charset;
    };
    const Case cases[] = {
        {"SONY ERICSSON", "(\"GSM\",\"UCS2\")", "8859-1"},
        {"MODEMSIM", "(\"GSM\",\"UCS2\",\"HEX\")", "UCS2"},
        {"WAVECOM MODEM", "(\"GSM\",\"HEX\")", "HEX"},
        {"MODEMSIM", "(\"GSM\",\"HEX\")", "GSM"},
        {"MODEMSIM", "(\"GSM\",\"HEX\",\"PCCP437\")", "PCCP437"},
        {"MODEMSIM", "(\"GSM\",\"8859-1\")", "8859-1"},
        {"wavecom", "(\"GSM\",\"HEX\")", "GSM"},  // the tests are case-sensitive
        {"MODEMSIM", "ERROR", "GSM"},
        {"MODEMSIM", "(\"ucs2\")", "GSM"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.charset, quirks::ChooseCharacterSet(c.manufacturer, c.reply)) << c.manufacturer << " " << c.reply;
}

TEST(DeviceQuirks, IdentityIsTheFirstFieldOrTheModelItemOfAList) {
    const std::pair<const char*, const char*> cases[] = {
        {"MS-100\r\n\r\nOK\r\n", "MS-100"},
        {"+CGMM: \"GSM900\",\"GSM1800\",\"GSM1900\",\"MODEL=E365\"\r\n\r\nOK\r\n", "E365"},
        {"+CGMI: \"Motorola CE, Copyright 2000\"\r\n\r\nOK\r\n", "Motorola CE"},
        {"+491234\r\n\r\nOK\r\n", "+491234"},  // not a command name
        {"+CGMI:\r\n\r\nOK\r\n", ""},
    };
    for (const auto& [reply, expected] : cases) {
        ReplyFields fields;
        int count = 0;
        ASSERT_EQ(1, SplitReply(reply, "", fields, count)) << reply;
        EXPECT_EQ(expected, quirks::IdentityValue(fields, count)) << reply;
    }
}

TEST(DeviceQuirks, ModelE365WithoutManufacturerIsMotorola) {
    struct Case {
        std::string manufacturer, model, expected;
    };
    for (const Case& c : {Case{"", "E365", "MOTOROLA"}, Case{"", "e365", ""}, Case{"", "E3650", ""},
                          Case{"SIEMENS", "E365", "SIEMENS"}}) {
        std::string manufacturer = c.manufacturer;
        quirks::FillMissingManufacturer(manufacturer, c.model);
        EXPECT_EQ(c.expected, manufacturer) << c.model;
    }
}

}  // namespace
