#include "engine/SqlTemplates.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The settings' default templates, spelt out here so the tests pin them independently.
const std::string kSelect =
    "select msgid as <MSGID>, phone as <PHONE>, msgbody as <MSGBODY> from smsout where status=0";
const std::string kUpdate = "update smsout set status=<RESULT> where msgid='<MSGID>'";
const std::string kInsert =
    "insert into smsin(phone, msgbody, rectime) values('<PHONE>', '<MSGBODY>', '<TIME>')";

TEST(SqlTemplates, DefaultStatements) {
    EXPECT_EQ(BuildSelectSql(kSelect),
              "select msgid as zMsgID, phone as zPhone, msgbody as zMsgBody from smsout where status=0");
    EXPECT_EQ(BuildCountSql(kSelect), "select count(*) as count from smsout where status=0");
    EXPECT_EQ(BuildUpdateSql(kUpdate, "17", 1), "update smsout set status=1 where msgid='17'");
    EXPECT_EQ(BuildUpdateSql(kUpdate, "17", -1), "update smsout set status=-1 where msgid='17'");
    EXPECT_EQ(BuildUpdateSql(kUpdate, "1' or '1'='1", -2), "update smsout set status=-2 where msgid='1'' or ''1''=''1'");
    EXPECT_EQ(BuildInsertSql(kInsert, "+4915112345678", "Hello", "2005-03-12 14:25:30"),
              "insert into smsin(phone, msgbody, rectime) values('+4915112345678', 'Hello', "
              "'2005-03-12 14:25:30')");
}

TEST(SqlTemplates, CountStatementFindsFromInAnyCaseAndCopiesTheTailAsWritten) {
    struct Case {
        const char* selectTemplate;
        const char* expected;
    };
    const Case cases[] = {
        {"SELECT ID AS <MSGID> FROM Outbox WHERE Status=0", "select count(*) as count FROM Outbox WHERE Status=0"},
        {"select a From T", "select count(*) as count From T"},
        // The tail keeps its placeholders.
        {"select x from t where phone='<PHONE>'", "select count(*) as count from t where phone='<PHONE>'"},
        // The first "from" wins, even inside a word.
        {"select datefrom as <MSGID> from t", "select count(*) as count from as <MSGID> from t"},
        {"select 1", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildCountSql(c.selectTemplate), c.expected) << c.selectTemplate;
    }
}

TEST(SqlTemplates, EveryOccurrenceOfAPlaceholderIsReplaced) {
    EXPECT_EQ(BuildUpdateSql("update t set s=<RESULT>, r=<RESULT> where id=<MSGID> or ref=<MSGID>", "5", -1),
              "update t set s=-1, r=-1 where id=5 or ref=5");
    EXPECT_EQ(BuildSelectSql("select <PHONE>, <PHONE> as <MSGBODY> from t"),
              "select zPhone, zPhone as zMsgBody from t");
    EXPECT_EQ(BuildInsertSql("insert into t values('<PHONE>', '<PHONE>', '<TIME>', '<TIME>')", "1", "b", "T"),
              "insert into t values('1', '1', 'T', 'T')");
}

TEST(SqlTemplates, UnknownAndMiscasedPlaceholdersStay) {
    EXPECT_EQ(BuildUpdateSql("update t set s=<RESULT> where id=<msgid> and x='<OTHER>' and y<3", "9", 1),
              "update t set s=1 where id=<msgid> and x='<OTHER>' and y<3");
    // The update template has no "<PHONE>": it is left alone there.
    EXPECT_EQ(BuildUpdateSql("update t set p='<PHONE>' where id=<MSGID>", "9", 1),
              "update t set p='<PHONE>' where id=9");
    EXPECT_EQ(BuildSelectSql("select * from t where a<b and c>d"), "select * from t where a<b and c>d");
}

TEST(SqlTemplates, ValuesAreNeverSearchedForLaterPlaceholders) {
    const std::string body = "see <TIME> and <PHONE> and <MSGBODY>";
    EXPECT_EQ(BuildInsertSql(kInsert, "<MSGBODY>", body, "2020-12-31 23:59:59"),
              "insert into smsin(phone, msgbody, rectime) values('<MSGBODY>', 'see <TIME> and <PHONE> and "
              "<MSGBODY>', '2020-12-31 23:59:59')");
    EXPECT_EQ(BuildUpdateSql(kUpdate, "<RESULT>", 1), "update smsout set status=1 where msgid='<RESULT>'");
    EXPECT_EQ(ReplacePlaceholders("<A><B>", {{"<A>", "<B>"}, {"<B>", "x"}}), "<B>x");
}

TEST(SqlTemplates, QuotesInValuesAreDoubled) {
    struct Case {
        const char* value;
        const char* quoted;
    };
    const Case cases[] = {
        {"", ""},
        {"plain text", "plain text"},
        {"it's", "it''s"},
        {"''", "''''"},
        {"x'); drop table smsin; --", "x''); drop table smsin; --"},
        {"'", "''"},
        {"Grüße \"€\"", "Grüße \"€\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QuoteSqlText(c.value), c.quoted) << c.value;
    }
    EXPECT_EQ(BuildInsertSql(kInsert, "+1'2", "don't", "2000-01-01 00:00:00"),
              "insert into smsin(phone, msgbody, rectime) values('+1''2', 'don''t', '2000-01-01 00:00:00')");
    EXPECT_EQ(BuildUpdateSql("update t set s=<RESULT> where id='<MSGID>'", "a'b", 1),
              "update t set s=1 where id='a''b'");
}

TEST(SqlTemplates, ValuesAreNotTrimmed) {
    EXPECT_EQ(BuildInsertSql("('<PHONE>','<MSGBODY>')", " 123 ", "  two  spaces \r\n", "t"),
              "(' 123 ','  two  spaces \r\n')");
}

TEST(SqlTemplates, TimeValues) {
    struct Case {
        const char* stamp;
        const char* value;
    };
    const Case cases[] = {
        {"050312142530", "2005-03-12 14:25:30"},
        {"991231235959", "2099-12-31 23:59:59"},
        {"201231235959", "2020-12-31 23:59:59"},  // a modem stamp of the year 2020
        {"200101000000", "2020-01-01 00:00:00"},
        {"05031214253004", "2005-03-12 14:25:30"},  // the time zone digits are dropped
        {"2020-12-31 23:59:59", "2020-12-31 23:59:59"},
        {"2005-03-12 14:25:30+04", "2005-03-12 14:25:30"},
        {"0503121425", "2000-01-01 00:00:00"},  // ten characters
        {"05031214253", "2000-01-01 00:00:00"},
        {"", "2000-01-01 00:00:00"},
        {"2020-12-31", "2000-01-01 00:00:00"},
        {"05031214253'", "2000-01-01 00:00:00"},  // never a quote into the statement
        {"2020-12-31T23:59:59", "2000-01-01 00:00:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTimeValue(c.stamp), c.value) << '"' << c.stamp << '"';
    }
}

}  // namespace
