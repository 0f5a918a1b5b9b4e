#include "EngineHarness.h"
#include "modem/Mobile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

namespace {

// The queued events, oldest first, each as its fields joined by '|', taken out of the queue.
std::vector<std::string> TakeEvents(CStateStore& store, const std::vector<std::string>& fields) {
    std::vector<std::string> events;
    WebhookEvent event;
    while (store.NextEvent(event)) {
        const nlohmann::json body = nlohmann::json::parse(event.body);
        std::string line = body.at("event");
        for (const std::string& field : fields)
            if (body.contains(field)) line += "|" + (body[field].is_string() ? body[field].get<std::string>() : body[field].dump());
        EXPECT_EQ(event.eventId, body.at("event_id"));
        events.push_back(line);
        store.DropEvent(event.id);
    }
    return events;
}

}  // namespace

// Bodies are JSON whatever the text holds; ids are 128-bit hex, random for results, derived
// from what they report for messages and reports.
TEST(WebhookEvents, BodiesEscapeAnyTextAndIdsAreUniqueOrKeyed) {
    const std::string text = "\"quoted\" \\ line\nend \x01 \xC3\xA9 \xFF";
    const WebhookEvent event = ReceivedEvent("+49\"1", text, "261207093015", 5);
    const nlohmann::json body = nlohmann::json::parse(event.body);
    EXPECT_EQ("+49\"1", body["phone"]);
    EXPECT_EQ("\"quoted\" \\ line\nend \x01 \xC3\xA9 \xEF\xBF\xBD", body["text"]);
    EXPECT_EQ("2026-12-07 09:30:15", body["time"]);
    EXPECT_EQ(32u, event.eventId.size());
    EXPECT_EQ(std::string::npos, event.eventId.find_first_not_of("0123456789abcdef"));
    EXPECT_EQ(event.eventId, ReceivedEvent("+49\"1", text, "261207093015", 9).eventId);
    EXPECT_NE(event.eventId, ReceivedEvent("+49\"1", text, "261207093016", 5).eventId);
    EXPECT_NE(ResultEvent("1", "+49", 1, "", 5).eventId, ResultEvent("1", "+49", 1, "", 5).eventId);
    EXPECT_NE(DeliveredEvent("1", 1, 5, "a").eventId, DeliveredEvent("1", 1, 5, "b").eventId);
}

// Each result's event is queued with its journal entry's drop: none while the update
// fails, then one per row with its number and reason. Each report report_sql wrote
// brings its status; a report given again after the final one brings nothing.
TEST(WebhookEvents, ResultsAndReportsQueueTheirEventsOnceWritten) {
    EngineHarness h;
    h.LinksUp();
    h.settings.m_bSendingPeriod = 0;
    h.settings.m_strReportSql = "update smsout set delivered=<STATUS> where msgid='<MSGID>'";
    TempDirState state;
    state.store.PutJournal({"9", JournalState::Sending, 0, "+499"});
    h.gateway.SetStateStore(&state.store);
    h.gateway.SetWebhooks(true);
    h.AddOutboxRow("10", "+4910", "goes out");
    h.AddOutboxRow("11", "none", "refused");
    h.modem.sendResult = 7;
    h.db.failExecutes = 1;
    h.gateway.CountUnsent();
    h.gateway.SendPending();
    EXPECT_EQ(0, state.store.CountEvents());
    h.run.m_bDatabaseLinked = 1;
    h.gateway.CountUnsent();
    h.gateway.SendPending();
    EXPECT_EQ((std::vector<std::string>{"sms:unknown|9|+499|the gateway stopped while the message was being sent",
                                        "sms:sent|10|+4910|",
                                        "sms:failed|11|none|not a dialable number"}),
              TakeEvents(state.store, {"id", "phone", "reason"}));

    for (int status : {0x20, 0x00, 0x00}) EXPECT_TRUE(h.gateway.TakeReport({7, "+4910", "261207093015", status}));
    EXPECT_EQ((std::vector<std::string>{"sms:delivered|10|0", "sms:delivered|10|1"}),
              TakeEvents(state.store, {"id", "status"}));
}

// Each road into the inbox queues one event: a stored message (read again after a crash
// before its delete: the same event, queued once), a direct one through the spool (given
// twice by the network: one event), and the parts of a joined one. A store that cannot queue the event keeps the message in the modem.
TEST(WebhookEvents, EveryRoadIntoTheInboxQueuesItsMessageOnce) {
    EngineHarness h;
    h.LinksUp();
    TempDirState state;
    h.gateway.SetStateStore(&state.store);
    h.gateway.SetWebhooks(true);
    const ModemMessage stored{"+4917", "stored", "261207093000", 1};
    for (int read = 0; read < 2; ++read) {
        h.modem.stores["SM"][2] = stored;
        h.gateway.CheckStores();
        EXPECT_TRUE(h.modem.stores["SM"].empty());
    }
    auto deliver = [&](const ModemMessage& message) {
        h.modem.received = message;
        h.modem.polls.push_back(POLL_NEW_MESSAGE);
        h.gateway.TakeIndications();
    };
    deliver({"+4918", "direct", "261207093001", 1});
    deliver({"+4918", "direct", "261207093001", 1});  // the network delivers it again
    ModemMessage part{"+4919", "part two", "261207093002", 1};
    part.partReference = 5;
    part.partCount = 2;
    part.partNumber = 2;
    deliver(part);
    part.text = "part one ";
    part.partNumber = 1;
    deliver(part);
    EXPECT_EQ((std::vector<std::string>{"sms:received|+4917|stored", "sms:received|+4918|direct",
                                        "sms:received|+4919|part one part two"}),
              TakeEvents(state.store, {"phone", "text"}));

    sqlite3* db = nullptr;
    sqlite3_open(state.path.c_str(), &db);
    sqlite3_exec(db, "create trigger refuse before insert on webhook_events begin select raise(abort, 'no'); end",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    h.modem.stores["SM"][3] = stored;
    h.gateway.CheckStores();
    EXPECT_EQ(1u, h.modem.stores["SM"].size());
}
