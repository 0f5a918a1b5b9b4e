#pragma once
// A statement whose outside values (a received text, a sender, an outbox id) travel as
// bound parameters, never as SQL text. Built from a statement template whose
// placeholders are either bound (each becomes a '?' marker) or textual (replaced in the
// text, for values the gateway makes itself: numbers, times, its own name).
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct SqlCommand {
    struct Value {
        std::string text;
        bool quoted = false;  // stood for a whole quoted literal ('<MSGBODY>') in the template
    };
    std::string sql;              // the statement, '?' where each value goes
    std::vector<Value> values;    // in marker order
    std::vector<std::size_t> markers;  // offset of each marker in sql

    SqlCommand() = default;
    SqlCommand(std::string text) : sql(std::move(text)) {}  // NOLINT: a statement without values
    SqlCommand(const char* text) : sql(text) {}            // NOLINT

    // The statement with each value written in: quoted ones as a literal with ' doubled,
    // bare ones as they are. For messages and test doubles only; never executed.
    std::string Inline() const;
};

using SqlPlaceholderValues = std::vector<std::pair<std::string, std::string>>;

// Why a template cannot carry these placeholders as bound values, or nullopt. A bound
// placeholder must stand bare or fill a whole single-quoted literal ('<PHONE>'), never
// part of a longer one ('+<PHONE>') nor sit inside double quotes.
std::optional<std::string> BindingProblem(const std::string& sqlTemplate, const std::vector<std::string>& bound);

// Builds the command in one left-to-right pass: `bound` placeholders become markers
// with their values bound, `textual` ones are replaced by their text. A template that
// BindingProblem refuses throws CDbError naming the problem; the statement is not run.
SqlCommand BindTemplate(const std::string& sqlTemplate, const SqlPlaceholderValues& bound,
                        const SqlPlaceholderValues& textual);
