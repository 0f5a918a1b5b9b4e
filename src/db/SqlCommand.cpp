#include "db/SqlCommand.h"

#include "db/DbError.h"

namespace {

std::string Quoted(const std::string& value) {
    std::string out = "'";
    out.reserve(value.size() + 2);
    for (char c : value) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// The placeholder of `names` that starts at `at`, or nullptr.
template <typename List, typename Name>
const auto* MatchAt(const std::string& text, std::size_t at, const List& names, Name name) {
    for (const auto& entry : names) {
        const std::string& placeholder = name(entry);
        if (!placeholder.empty() && text.compare(at, placeholder.size(), placeholder) == 0) return &entry;
    }
    return static_cast<decltype(&*names.begin())>(nullptr);
}

// One pass over the template. `bind` is called for each bound placeholder found, with
// whether it fills a whole quoted literal; `text` for each textual one; `copy` for any
// other character. The first misplaced bound placeholder ends the pass with its problem.
template <typename OnBound, typename OnText, typename OnCopy>
std::optional<std::string> Walk(const std::string& sqlTemplate, const std::vector<std::string>& bound,
                                const SqlPlaceholderValues& textual, OnBound bind, OnText text, OnCopy copy) {
    char quote = 0;               // the quote character of the literal or name we are in
    bool marker = false, anyBound = false;  // a '?' outside quotes; a bound placeholder
    std::size_t literalStart = 0; // where that literal's opening quote is
    std::size_t i = 0;
    while (i < sqlTemplate.size()) {
        const char c = sqlTemplate[i];
        if (c == '<') {
            auto same = [](const std::string& n) -> const std::string& { return n; };
            if (const std::string* name = MatchAt(sqlTemplate, i, bound, same)) {
                const std::size_t end = i + name->size();
                anyBound = true;
                if (quote == 0) {
                    bind(*name, false);
                    i = end;
                    continue;
                }
                // A whole literal: the quote right before, the closing one right after.
                const bool whole = quote == '\'' && literalStart + 1 == i && end < sqlTemplate.size() &&
                                   sqlTemplate[end] == '\'' &&
                                   (end + 1 >= sqlTemplate.size() || sqlTemplate[end + 1] != '\'');
                if (!whole)
                    return *name + (quote == '"' ? " stands inside double quotes"
                                                 : " is part of a longer quoted text") +
                           ": an outside value must fill a whole literal ('" + *name + "') or stand bare";
                bind(*name, true);
                quote = 0;
                i = end + 1;
                continue;
            }
            if (const auto* entry = MatchAt(sqlTemplate, i, textual,
                                            [](const auto& e) -> const std::string& { return e.first; })) {
                text(entry->second);
                i += entry->first.size();
                continue;
            }
        }
        if (quote == 0 && c == '?') marker = true;
        if (quote == 0 && (c == '\'' || c == '"')) {
            quote = c;
            literalStart = i;
        } else if (quote != 0 && c == quote) {
            // A doubled quote stays inside the literal.
            if (i + 1 < sqlTemplate.size() && sqlTemplate[i + 1] == quote) {
                copy(c);
                ++i;
            } else {
                quote = 0;
            }
        }
        copy(c);
        ++i;
    }
    if (marker && anyBound) return std::string("a '?' outside quotes would be taken for a bound value's place");
    return std::nullopt;
}

}  // namespace

std::string SqlCommand::Inline() const {
    std::string out;
    std::size_t from = 0;
    for (std::size_t k = 0; k < markers.size() && k < values.size(); ++k) {
        out.append(sql, from, markers[k] - from);
        out += values[k].quoted ? Quoted(values[k].text) : values[k].text;
        from = markers[k] + 1;
    }
    out.append(sql, from, std::string::npos);
    return out;
}

std::optional<std::string> BindingProblem(const std::string& sqlTemplate, const std::vector<std::string>& bound) {
    return Walk(sqlTemplate, bound, {}, [](const std::string&, bool) {}, [](const std::string&) {}, [](char) {});
}

SqlCommand BindTemplate(const std::string& sqlTemplate, const SqlPlaceholderValues& bound,
                        const SqlPlaceholderValues& textual) {
    std::vector<std::string> names;
    for (const auto& entry : bound) names.push_back(entry.first);
    SqlCommand command;
    command.sql.reserve(sqlTemplate.size());
    auto problem = Walk(
        sqlTemplate, names, textual,
        [&](const std::string& name, bool quoted) {
            for (const auto& [placeholder, value] : bound) {
                if (placeholder != name) continue;
                if (quoted) command.sql.pop_back();  // the opening quote goes with the literal
                command.markers.push_back(command.sql.size());
                command.sql += '?';
                command.values.push_back({value, quoted});
                break;
            }
        },
        [&](const std::string& value) { command.sql += value; }, [&](char c) { command.sql += c; });
    if (problem) throw CDbError(DB_E_FAIL, "statement template refused: " + *problem);
    return command;
}
