#pragma once
// The events a webhook receiver hears of, as the JSON bodies the state store queues:
// "event" and "event_id" in each, and the fields of its kind.
#include "state/StateRecords.h"

#include <string>

// Each takes the wall clock (ms since the epoch). An event_id is random, or a digest of
// what identifies the event: the same event found again (a message the network delivers
// twice, or one read again after a crash) then carries the same event_id, and the store
// queues it only once while it waits.

// sms:received, for a message in the inbox; `time` is the modem's "YYMMDDhhmmss". Its id
// is derived from the sender, the time stamp and the text, as the inbox's key is.
WebhookEvent ReceivedEvent(const std::string& phone, const std::string& text, const std::string& time, long long nowMs);
// sms:sent, sms:failed or sms:unknown, for the result written to an outbox row.
WebhookEvent ResultEvent(const std::string& msgId, const std::string& phone, int result, const std::string& reason,
                         long long nowMs);
// sms:delivered, for a status report report_sql wrote: 1 delivered, 0 still trying, -1 failed.
WebhookEvent DeliveredEvent(const std::string& msgId, int status, long long nowMs, const std::string& key);
