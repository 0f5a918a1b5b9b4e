#include "engine/SqlTemplates.h"

#include <gtest/gtest.h>

#include "db/DbError.h"

#include <string>
#include <vector>

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
    EXPECT_EQ(BuildUpdateSql(kUpdate, "17", 1).Inline(), "update smsout set status=1 where msgid='17'");
    EXPECT_EQ(BuildUpdateSql(kUpdate, "17", -1).Inline(), "update smsout set status=-1 where msgid='17'");
    EXPECT_EQ(BuildUpdateSql(kUpdate, "1' or '1'='1", -2).Inline(), "update smsout set status=-2 where msgid='1'' or ''1''=''1'");
    EXPECT_EQ(BuildInsertSql(kInsert, "+4915112345678", "Hello", "2005-03-12 14:25:30").Inline(),
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
    EXPECT_EQ(BuildUpdateSql("update t set s=<RESULT>, r=<RESULT> where id=<MSGID> or ref=<MSGID>", "5", -1).Inline(),
              "update t set s=-1, r=-1 where id=5 or ref=5");
    EXPECT_EQ(BuildSelectSql("select <PHONE>, <PHONE> as <MSGBODY> from t"),
              "select zPhone, zPhone as zMsgBody from t");
    EXPECT_EQ(BuildInsertSql("insert into t values('<PHONE>', '<PHONE>', '<TIME>', '<TIME>')", "1", "b", "T").Inline(),
              "insert into t values('1', '1', 'T', 'T')");
}

TEST(SqlTemplates, UnknownAndMiscasedPlaceholdersStay) {
    EXPECT_EQ(BuildUpdateSql("update t set s=<RESULT> where id=<msgid> and x='<OTHER>' and y<3", "9", 1).Inline(),
              "update t set s=1 where id=<msgid> and x='<OTHER>' and y<3");
    // The update template has no "<PHONE>": it is left alone there.
    EXPECT_EQ(BuildUpdateSql("update t set p='<PHONE>' where id=<MSGID>", "9", 1).Inline(),
              "update t set p='<PHONE>' where id=9");
    EXPECT_EQ(BuildSelectSql("select * from t where a<b and c>d"), "select * from t where a<b and c>d");
}

TEST(SqlTemplates, ValuesAreNeverSearchedForLaterPlaceholders) {
    const std::string body = "see <TIME> and <PHONE> and <MSGBODY>";
    EXPECT_EQ(BuildInsertSql(kInsert, "<MSGBODY>", body, "2020-12-31 23:59:59").Inline(),
              "insert into smsin(phone, msgbody, rectime) values('<MSGBODY>', 'see <TIME> and <PHONE> and "
              "<MSGBODY>', '2020-12-31 23:59:59')");
    EXPECT_EQ(BuildUpdateSql(kUpdate, "<RESULT>", 1).Inline(), "update smsout set status=1 where msgid='<RESULT>'");
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
    EXPECT_EQ(BuildInsertSql(kInsert, "+1'2", "don't", "2000-01-01 00:00:00").Inline(),
              "insert into smsin(phone, msgbody, rectime) values('+1''2', 'don''t', '2000-01-01 00:00:00')");
    EXPECT_EQ(BuildUpdateSql("update t set s=<RESULT> where id='<MSGID>'", "a'b", 1).Inline(),
              "update t set s=1 where id='a''b'");
}

TEST(SqlTemplates, ValuesAreNotTrimmed) {
    EXPECT_EQ(BuildInsertSql("('<PHONE>','<MSGBODY>')", " 123 ", "  two  spaces \r\n", "t").Inline(),
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

// Outside values become markers with their values bound; the gateway's own stay text.
TEST(SqlTemplates, OutsideValuesAreBoundNeverWritten) {
    struct Case {
        SqlCommand command;
        const char* sql;
        std::vector<std::string> values;
        std::vector<bool> quoted;
    };
    const std::string hostile = "x\\', now()); update smsout set status=0; --";
    const Case cases[] = {
        {BuildInsertSql(kInsert, "+49'1", hostile, "2005-03-12 14:25:30"),
         "insert into smsin(phone, msgbody, rectime) values(?, ?, '2005-03-12 14:25:30')", {"+49'1", hostile},
         {true, true}},
        {BuildUpdateSql("update smsout set status=<RESULT>, gw='<INSTANCE>' where msgid=<MSGID>", "0 or 1=1", -2,
                        "o'k"),
         "update smsout set status=-2, gw='o''k' where msgid=?", {"0 or 1=1"}, {false}},
        {BuildReportSql("update smsout set delivered=<STATUS>, at='<TIME>' where msgid='<MSGID>' and phone=<PHONE>",
                        "7", hostile, "2020-01-01 00:00:00", 1),
         "update smsout set delivered=1, at='2020-01-01 00:00:00' where msgid=? and phone=?", {"7", hostile},
         {true, false}},
        {BuildClaimSql("update smsout set owner='<INSTANCE>' where msgid='<MSGID>' and status=0", "<INSTANCE>", "g1"),
         "update smsout set owner='g1' where msgid=? and status=0", {"<INSTANCE>"}, {true}},
        // Doubled quotes and other literals are kept as they are.
        {BuildInsertSql("insert into t values('it''s', '<MSGBODY>', \"a\"\"b\", '?')", "+1", "b", "t"),
         "insert into t values('it''s', ?, \"a\"\"b\", '?')", {"b"}, {true}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.command.sql, c.sql);
        ASSERT_EQ(c.command.values.size(), c.values.size()) << c.sql;
        for (size_t k = 0; k < c.values.size(); ++k) {
            EXPECT_EQ(c.command.values[k].text, c.values[k]) << c.sql;
            EXPECT_EQ(c.command.values[k].quoted, c.quoted[k]) << c.sql;
        }
    }
}

// A template whose outside value would be part of a longer text is refused, never run.
TEST(SqlTemplates, TemplatesThatCannotBindAreRefused) {
    struct Case {
        const char* sqlTemplate;
        const char* problem;  // part of the reason; "" when it passes
    };
    const Case cases[] = {
        {"insert into smsin(phone, msgbody, rectime) values('<PHONE>', '<MSGBODY>', #<TIME>#)", ""},
        {"update smsout set status=<RESULT> where msgid=<MSGID>", ""},
        {"update smsout set status=<STATUS> where msgid='<MSGID>' and phone='<PHONE>'", ""},
        {"insert into t values('x<MSGBODY>')", "<MSGBODY> is part of a longer quoted text"},
        {"insert into t values('+<PHONE>', '<MSGBODY>')", "<PHONE> is part of a longer quoted text"},
        {"update t set s=1 where id='<MSGID>'''", "<MSGID> is part of a longer quoted text"},
        {"update t set s=1 where id=\"<MSGID>\"", "<MSGID> stands inside double quotes"},
        {"update t set s=1 where id=<MSGID> and x ? y", "'?' outside quotes"},
        // Only outside values are checked; the gateway's own may sit anywhere.
        {"update t set s=1, at='at <TIME>', gw='gw <INSTANCE>' where x ? y", ""},
    };
    for (const Case& c : cases) {
        const auto problem = TemplateProblem(c.sqlTemplate);
        if (*c.problem == 0) {
            EXPECT_FALSE(problem) << c.sqlTemplate << ": " << *problem;
            continue;
        }
        ASSERT_TRUE(problem) << c.sqlTemplate;
        EXPECT_NE(problem->find(c.problem), std::string::npos) << *problem;
        EXPECT_THROW(BindTemplate(c.sqlTemplate, {{"<MSGID>", "1"}, {"<PHONE>", "1"}, {"<MSGBODY>", "b"}}, {}),
                     CDbError)
            << c.sqlTemplate;
    }
}

TEST(SqlTemplates, TemplateAddressesIdOnlyWhereTheIdCannotBeMisread) {
    EXPECT_TRUE(TemplateAddressesId("update t set s=1 where id=<MSGID>", "42"));
    EXPECT_FALSE(TemplateAddressesId("update t set s=1 where id=<MSGID>", "0 or 1=1"));
    EXPECT_TRUE(TemplateAddressesId("update t set s=1 where id='<MSGID>'", "0 or 1=1"));
    EXPECT_TRUE(TemplateAddressesId("update t set s=1 where id='<MSGID>'", "x\\'\n"));
    EXPECT_FALSE(TemplateAddressesId("update t set s=1 where id='<MSGID>' or ref=<MSGID>", "a"));
    EXPECT_FALSE(TemplateAddressesId("update t set s=1 where id='<MSGID>'", ""));
}

}  // namespace
