#include "modem/ReplyParser.h"

#include <cctype>
#include <climits>

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

size_t FindFinalOk(const std::string& reply) {
    for (size_t at = reply.find("OK"); at != std::string::npos; at = reply.find("OK", at + 1)) {
        const bool lineStart = at == 0 || IsLineEnd(reply[at - 1]);
        const bool lineEnd = at + 2 == reply.size() || IsLineEnd(reply[at + 2]);
        if (lineStart && lineEnd) return at;
    }
    return std::string::npos;
}

int SplitReply(const std::string& reply, const std::string& prefix, ReplyFields& fields,
               int& fieldCount) {
    fieldCount = 0;
    if (reply.empty()) return -1;
    std::string text = reply.substr(0, FindFinalOk(reply));

    if (!prefix.empty()) {
        std::string heading = prefix;
        if (heading.back() != ' ') heading += ' ';
        if (text.find(heading) == std::string::npos) return -1;
        ReplaceAll(text, heading, "");
    }
    if (!text.empty()) {
        ReplaceAll(text, "\r\n\r\n\r\n", ",");
        ReplaceAll(text, "\r\n\r\n", ",");
        ReplaceAll(text, "\r\n", ",");
        ReplaceAll(text, "\r", ",");
        ReplaceAll(text, "\n", ",");
    }
    size_t start = 0;
    for (size_t comma = text.find(','); comma != std::string::npos && fieldCount < MAX_REPLY_FIELDS;
         comma = text.find(',', start)) {
        std::string field;
        for (size_t i = start; i < comma; ++i)
            if (text[i] != '"' && text[i] != '(' && text[i] != ')') field += text[i];
        fields[static_cast<size_t>(fieldCount++)] = std::move(field);
        start = comma + 1;
    }
    return 1;
}

int SplitRangeGroups(std::vector<std::string>& groups, const std::string& text, int maxCount) {
    groups.assign(static_cast<size_t>(maxCount > 0 ? maxCount : 0), std::string());
    std::string walk = text;
    if (walk.empty() || walk.back() != ',') walk += ',';

    int index = 0;
    bool inParentheses = false;
    for (size_t i = 0; i < walk.size() && index < maxCount; ++i) {
        const char c = walk[i];
        if (c == '(') {
            inParentheses = true;
        } else if (c == ')') {
            inParentheses = false;
            ++index;
            ++i;  // the separator after a group
        } else if (c == ',' && !inParentheses) {
            ++index;
        } else {
            groups[static_cast<size_t>(index)] += c;
        }
    }
    groups.resize(static_cast<size_t>(index));

    for (std::string& group : groups) {
        std::string expanded;
        for (size_t i = 0; i < group.size(); ++i) {
            if (group[i] == '-' && i > 0 && i + 1 < group.size()) {
                expanded += ',';
                for (int c = static_cast<unsigned char>(group[i - 1]) + 1;
                     c < static_cast<unsigned char>(group[i + 1]); ++c) {
                    expanded += static_cast<char>(c);
                    expanded += ',';
                }
            } else {
                expanded += group[i];
            }
        }
        group = std::move(expanded);
    }
    return index;
}

int DecimalValue(const std::string& text, bool* found) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    bool any = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        any = true;
        if (value < INT_MAX) value = value * 10 + (text[i] - '0');
    }
    if (found) *found = any;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(negative ? -value : value);
}
