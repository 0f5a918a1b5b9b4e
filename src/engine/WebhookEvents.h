#pragma once
// The events a webhook receiver hears of, as the JSON bodies the state store queues:
// "event" and "event_id" in each, and the fields of its kind.
#include "state/StateRecords.h"

#include <string>

// Each takes the wall clock (ms since the epoch). A `key` makes the event_id a digest of
// the key instead of a random one: the same event found again (a stored message read once
// more after a crash) then carries the same event_id, and the store queues it only once.

// sms:received, for a message in the inbox; `time` is the modem's "YYMMDDhhmmss".
WebhookEvent ReceivedEvent(const std::string& phone, const std::string& text, const std::string& time, long long nowMs,
                           const std::string& key = {});
// sms:sent, sms:failed or sms:unknown, for the result written to an outbox row.
WebhookEvent ResultEvent(const std::string& msgId, const std::string& phone, int result, const std::string& reason,
                         long long nowMs);
// sms:delivered, for a status report report_sql wrote: 1 delivered, 0 still trying, -1 failed.
WebhookEvent DeliveredEvent(const std::string& msgId, int status, long long nowMs, const std::string& key);
