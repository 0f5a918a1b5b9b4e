#include "engine/SqlTemplates.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsDigits(const std::string& text, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) {
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

// YYYY-MM-DD hh:mm:ss in the first 19 characters.
bool IsFormattedTime(const std::string& text) {
    static const char kShape[] = "dddd-dd-dd dd:dd:dd";
    if (text.size() < sizeof kShape - 1) return false;
    for (size_t i = 0; i < sizeof kShape - 1; ++i) {
        bool ok = kShape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0 : text[i] == kShape[i];
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::string ReplacePlaceholders(const std::string& sqlTemplate,
                                const std::vector<std::pair<std::string, std::string>>& values) {
    std::string out;
    out.reserve(sqlTemplate.size());
    size_t i = 0;
    while (i < sqlTemplate.size()) {
        bool replaced = false;
        if (sqlTemplate[i] == '<') {
            for (const auto& [placeholder, value] : values) {
                if (!placeholder.empty() && sqlTemplate.compare(i, placeholder.size(), placeholder) == 0) {
                    out += value;
                    i += placeholder.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += sqlTemplate[i++];
    }
    return out;
}

std::string QuoteSqlText(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

std::string BuildSelectSql(const std::string& selectTemplate) {
    return ReplacePlaceholders(selectTemplate,
                               {{"<PHONE>", COLUMN_PHONE}, {"<MSGBODY>", COLUMN_MSGBODY}, {"<MSGID>", COLUMN_MSGID}});
}

std::optional<std::string> TemplateProblem(const std::string& sqlTemplate) {
    return BindingProblem(sqlTemplate, {"<MSGID>", "<PHONE>", "<MSGBODY>", "<REASON>"});
}

SqlCommand BuildUpdateSql(const std::string& updateTemplate, const std::string& msgId, int result,
                          const std::string& instance, const std::string& reason) {
    return BindTemplate(updateTemplate, {{"<MSGID>", msgId}, {"<REASON>", reason}},
                        {{"<RESULT>", std::to_string(result)}, {"<INSTANCE>", QuoteSqlText(instance)}});
}

SqlCommand BuildOutboxInsertSql(const std::string& insertTemplate, const std::string& phone, const std::string& body,
                                const std::string& msgId) {
    return BindTemplate(insertTemplate, {{"<PHONE>", phone}, {"<MSGBODY>", body}, {"<MSGID>", msgId}}, {});
}

SqlCommand BuildClaimSql(const std::string& claimTemplate, const std::string& msgId, const std::string& instance) {
    return BindTemplate(claimTemplate, {{"<MSGID>", msgId}}, {{"<INSTANCE>", QuoteSqlText(instance)}});
}

std::string BuildReclaimSql(const std::string& reclaimTemplate, const std::string& instance, int timeoutMinutes) {
    return ReplacePlaceholders(reclaimTemplate,
                               {{"<INSTANCE>", QuoteSqlText(instance)}, {"<TIMEOUT>", std::to_string(timeoutMinutes)}});
}

bool TemplateAddressesId(const std::string& sqlTemplate, const std::string& msgId) {
    if (msgId.empty() || TemplateProblem(sqlTemplate)) return false;
    if (msgId.find_first_not_of("0123456789") == std::string::npos) return true;
    // A bare "<MSGID>" compares as a number: another id would fail or match by conversion.
    SqlCommand probe = BindTemplate(sqlTemplate, {{"<MSGID>", msgId}}, {});
    return std::all_of(probe.values.begin(), probe.values.end(), [](const SqlCommand::Value& v) { return v.quoted; });
}

SqlCommand BuildInsertSql(const std::string& insertTemplate, const std::string& phone, const std::string& body,
                          const std::string& time) {
    return BindTemplate(insertTemplate, {{"<PHONE>", phone}, {"<MSGBODY>", body}}, {{"<TIME>", time}});
}

std::string BuildCountSql(const std::string& selectTemplate) {
    std::string lower = selectTemplate;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    size_t from = lower.find("from");
    if (from == std::string::npos) return {};
    return "select count(*) as count " + selectTemplate.substr(from);
}

std::string FormatTimeValue(const std::string& stamp) {
    if (IsFormattedTime(stamp)) return stamp.substr(0, 19);
    if (stamp.size() < 12 || !IsDigits(stamp, 0, 12)) return DEFAULT_TIME_VALUE;
    return "20" + stamp.substr(0, 2) + "-" + stamp.substr(2, 2) + "-" + stamp.substr(4, 2) + " " +
           stamp.substr(6, 2) + ":" + stamp.substr(8, 2) + ":" + stamp.substr(10, 2);
}

SqlCommand BuildReportSql(const std::string& reportTemplate, const std::string& msgId, const std::string& phone,
                          const std::string& time, int status) {
    return BindTemplate(reportTemplate, {{"<MSGID>", msgId}, {"<PHONE>", phone}},
                        {{"<TIME>", time}, {"<STATUS>", std::to_string(status)}});
}
