#include "EngineFakes.h"
#include "engine/OutboxInsert.h"
#include "engine/SqlTemplates.h"

#include <gtest/gtest.h>

// Numbers and texts that could never be sent are refused before the database is asked.
TEST(OutboxInsert, RefusesWhatCannotBeSentAndQueuesTheRest) {
    struct Case {
        std::string phone, text, problem;  // "" when accepted
    };
    const Case cases[] = {
        {"+491701234567", "Hello", ""},
        {"123", std::string(64 * 153, 'x'), ""},
        {"", "Hello", "is not an optional '+' followed by digits"},
        {"+", "Hello", "is not an optional '+' followed by digits"},
        {"+49 170", "Hello", "is not an optional '+' followed by digits"},
        {"0170'; drop table smsout; --", "Hello", "is not an optional '+' followed by digits"},
        {"12", "Hello", "the number has 2 digits; 3 to 20 are allowed"},
        {"+" + std::string(21, '1'), "Hello", "the number has 21 digits"},
        {"+4917", "", "the text is empty"},
        {"+4917", std::string(MAX_OUTBOX_TEXT_BYTES + 1, 'x'), "at most 19584 fit"},
        {"+4917", std::string("a\0b", 3), "NUL character"},
        {"+4917", "\xC3(", "not valid UTF-8"},
        {"+4917", std::string(64 * 67 + 1, 'x').replace(0, 1, "\xE2\x82\xAC\xD0\x96"), "more than 64 parts"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phone + " / " + c.text.substr(0, 20));
        CSettings settings;
        FakeDatabase db;
        db.returned = "41";
        const OutboxInsertResult result = InsertOutboxMessage(settings, db, c.phone, c.text);
        if (c.problem.empty()) {
            EXPECT_EQ(OutboxInsertResult::Queued, result.outcome);
            EXPECT_EQ("41", result.id);
            EXPECT_EQ(1u, db.executed.size());
        } else {
            EXPECT_EQ(OutboxInsertResult::Invalid, result.outcome);
            EXPECT_NE(std::string::npos, result.error.find(c.problem)) << result.error;
            EXPECT_TRUE(db.executed.empty());
        }
    }
}

// The values are bound, never written into the statement; a template without "returning"
// gets the id made for "<MSGID>"; a database error is told apart from a refused message.
TEST(OutboxInsert, BindsTheValuesAndTellsTheIdOrTheDatabaseError) {
    CSettings settings;
    FakeDatabase db;
    db.returned = "7";
    EXPECT_EQ("7", InsertOutboxMessage(settings, db, "+4917", "it's").id);
    EXPECT_EQ("insert into smsout(phone, msgbody, status) values('+4917', 'it''s', 0) returning msgid", db.executed.back());
    EXPECT_EQ("insert into smsout(phone, msgbody, status) values(?, ?, 0) returning msgid",
              BuildOutboxInsertSql(settings.m_strOutboxInsertSql, "+4917", "it's", "x").sql);

    settings.m_strOutboxInsertSql = "insert into q(id, phone, body) values('<MSGID>', '<PHONE>', '<MSGBODY>')";
    db.returned.reset();
    const OutboxInsertResult made = InsertOutboxMessage(settings, db, "+4917", "Hi");
    EXPECT_EQ(OutboxInsertResult::Queued, made.outcome);
    EXPECT_EQ(32u, made.id.size());
    EXPECT_EQ("insert into q(id, phone, body) values('" + made.id + "', '+4917', 'Hi')", db.executed.back());
    EXPECT_NE(made.id, InsertOutboxMessage(settings, db, "+4917", "Hi").id);

    db.reachable = false;
    const OutboxInsertResult failed = InsertOutboxMessage(settings, db, "+4917", "Hi");
    EXPECT_EQ(OutboxInsertResult::DatabaseError, failed.outcome);
    EXPECT_EQ(0u, failed.error.find("outbox_insert_sql failed: ")) << failed.error;
    EXPECT_NE(std::string::npos, failed.error.find("connection lost")) << failed.error;
}
