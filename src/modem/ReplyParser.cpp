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

namespace {

struct HeaderField {
    std::string text;
    bool quoted = false;
};

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// The fields of one header line; a comma inside quotes belongs to the field.
std::vector<HeaderField> SplitHeader(const std::string& line) {
    std::vector<HeaderField> fields(1);
    bool inQuotes = false;
    for (char c : line) {
        if (c == '"') {
            inQuotes = !inQuotes;
            fields.back().quoted = true;
        } else if (c == ',' && !inQuotes) {
            fields.emplace_back();
        } else {
            fields.back().text += c;
        }
    }
    for (HeaderField& f : fields) f.text = Trimmed(f.text);
    return fields;
}

// The line that starts with `prefix` at or after `from`, without the prefix; npos in `at` when none.
std::string LineAfter(const std::string& reply, const std::string& prefix, size_t from, size_t& at) {
    for (at = reply.find(prefix, from); at != std::string::npos; at = reply.find(prefix, at + 1)) {
        if (at == 0 || IsLineEnd(reply[at - 1])) break;
    }
    if (at == std::string::npos) return std::string();
    const size_t start = at + prefix.size();
    const size_t end = reply.find_first_of("\r\n", start);
    return reply.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool Number(const HeaderField& field, int& value) {
    bool found = false;
    value = DecimalValue(field.text, &found);
    return found && !field.quoted && field.text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

int ParseStoredRead(const std::string& reply, int index, StoredRead& read) {
    read = StoredRead{};
    size_t at = 0;
    const std::string header = LineAfter(reply, "+CMGR:", 0, at);
    if (at == std::string::npos) return -1;
    const std::vector<HeaderField> f = SplitHeader(header);
    const size_t n = f.size();
    int first = -1, second = -1;
    const bool firstIsNumber = Number(f[0], first);
    const bool secondIsNumber = n > 1 && Number(f[1], second);
    // An echoed index: "<index>,<stat>,[<alpha>],<length>" or "<index>,<stat>,<length>".
    const bool indexFirst = firstIsNumber && first == index && secondIsNumber && (n == 4 || n == 3);
    size_t lengthAt = n == 1 ? 0 : n == 2 ? 1 : 2;
    int status = n == 1 ? 0 : first;
    if (indexFirst) {
        lengthAt = n - 1;
        status = second;
    }
    if (!Number(f[lengthAt], read.nLength)) return -1;
    read.nStatus = status >= 0 && status <= 3 ? status : 0;

    // The PDU: the next line that holds text, unless that is already the final result.
    const size_t headerEnd = reply.find_first_of("\r\n", at);
    if (headerEnd == std::string::npos) return 1;
    const size_t pduStart = reply.find_first_not_of("\r\n \t", headerEnd);
    if (pduStart == std::string::npos) return 1;
    const size_t pduEnd = reply.find_first_of("\r\n", pduStart);
    const std::string line =
        Trimmed(reply.substr(pduStart, pduEnd == std::string::npos ? std::string::npos : pduEnd - pduStart));
    if (line != "OK" && line.rfind("+", 0) != 0 && line.find("ERROR") == std::string::npos) read.strPdu = line;
    return 1;
}

std::vector<int> ParseListedIndexes(const std::string& reply) {
    std::vector<int> indexes;
    size_t at = 0;
    for (size_t from = 0;; from = at + 1) {
        const std::string header = LineAfter(reply, "+CMGL:", from, at);
        if (at == std::string::npos) break;
        int index = 0;
        if (Number(SplitHeader(header)[0], index)) indexes.push_back(index);
    }
    return indexes;
}

std::vector<std::string> ParseStoreNames(const std::string& reply) {
    std::vector<std::string> names;
    size_t at = 0;
    std::string line = LineAfter(reply, "+CPMS:", 0, at);
    if (at == std::string::npos) return names;
    const size_t open = line.find('(');
    if (open != std::string::npos) {
        const size_t close = line.find(')', open);
        line = line.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    }
    for (const HeaderField& f : SplitHeader(line))
        if (!f.text.empty()) names.push_back(f.text);
    return names;
}
