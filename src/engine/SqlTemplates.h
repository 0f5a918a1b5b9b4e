#pragma once
// The statements the gateway runs, built from fresh copies of the user's templates in
// one pass, so a value is never searched for further placeholders. Values from outside
// the gateway (a received text or sender, an outbox row's id) are bound parameters
// (db/SqlCommand.h); the gateway's own values (numbers, times, its instance name, with
// single quotes doubled) are written into the text.
#include "db/SqlCommand.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Column names under which the select statement delivers a row, and the count's column.
inline constexpr const char* COLUMN_MSGID = "zMsgID";
inline constexpr const char* COLUMN_PHONE = "zPhone";
inline constexpr const char* COLUMN_MSGBODY = "zMsgBody";
inline constexpr const char* COLUMN_COUNT = "count";

// The time used when the modem's stamp is unusable.
inline constexpr const char* DEFAULT_TIME_VALUE = "2000-01-01 00:00:00";

// Replaces every placeholder (exact, case-sensitive) in one left-to-right pass.
std::string ReplacePlaceholders(const std::string& sqlTemplate,
                                const std::vector<std::pair<std::string, std::string>>& values);

// A value with each ' doubled, for use inside a quoted SQL literal.
std::string QuoteSqlText(const std::string& value);

// "<MSGID>", "<PHONE>", "<MSGBODY>" become the column aliases.
std::string BuildSelectSql(const std::string& selectTemplate);
// "<MSGID>" the row's key, "<RESULT>" the send result as "%d" (1 sent, -1 failed,
// -2 unknown: the gateway died or the modem fell silent after the message was handed over),
// "<INSTANCE>" the gateway's instance name, "<REASON>" why it was not sent ("" when it was).
SqlCommand BuildUpdateSql(const std::string& updateTemplate, const std::string& msgId, int result,
                           const std::string& instance = {}, const std::string& reason = {});
// A new outbox row: "<PHONE>", "<MSGBODY>" and "<MSGID>" (an id made for it) bound.
SqlCommand BuildOutboxInsertSql(const std::string& insertTemplate, const std::string& phone, const std::string& body,
                                const std::string& msgId);
// The build functions throw CDbError, the statement not run, for a template that
// TemplateProblem refuses.
// The claim and release statements: "<MSGID>" the row's key, "<INSTANCE>" the gateway's name.
SqlCommand BuildClaimSql(const std::string& claimTemplate, const std::string& msgId, const std::string& instance);
// The take-over of old claims: "<INSTANCE>" the gateway's name, "<TIMEOUT>" the minutes.
std::string BuildReclaimSql(const std::string& reclaimTemplate, const std::string& instance, int timeoutMinutes);
// True when the statement (update, claim or release) can name this id and no other row:
// a template that puts every "<MSGID>" in a literal of its own ('<MSGID>') takes any id,
// any other template only an id made of digits. A template TemplateProblem refuses names none.
bool TemplateAddressesId(const std::string& sqlTemplate, const std::string& msgId);
// "<PHONE>", "<MSGBODY>" the received values; "<TIME>" a value made by FormatTimeValue.
SqlCommand BuildInsertSql(const std::string& insertTemplate, const std::string& phone,
                           const std::string& body, const std::string& time);
// "<MSGID>", "<PHONE>" quoted; "<TIME>" a value made by FormatTimeValue; "<STATUS>" 1, 0 or -1.
SqlCommand BuildReportSql(const std::string& reportTemplate, const std::string& msgId, const std::string& phone,
                           const std::string& time, int status);
// Why a statement template (update, insert, report, claim, release, reclaim) cannot be
// run with its outside values bound ("<MSGID>", "<PHONE>", "<MSGBODY>", "<REASON>"), or nullopt.
std::optional<std::string> TemplateProblem(const std::string& sqlTemplate);

// "select count(*) as count " and the select template from its first "from" (any case);
// "" when the template has no "from".
std::string BuildCountSql(const std::string& selectTemplate);

// The modem's time stamp (YYMMDDhhmmss, more digits ignored) as YYYY-MM-DD hh:mm:ss.
// A stamp already in that form is kept; a short or non-numeric one gives DEFAULT_TIME_VALUE.
std::string FormatTimeValue(const std::string& stamp);
