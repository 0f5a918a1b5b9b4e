#pragma once
// Pure functions on modem reply text: splitting a reply into fields, the range groups of a
// "=?" test answer, and the numbers read from fields. No I/O, no state.
#include <array>
#include <string>
#include <vector>

constexpr int MAX_REPLY_FIELDS = 64;
using ReplyFields = std::array<std::string, MAX_REPLY_FIELDS>;

// Splits a reply into fields: the text before the final "OK" line, with the prefix (a blank
// is added when it does not end in one) removed, line breaks turned into separators, quotes
// and parentheses dropped. Text after the last separator is not a field. Returns 1 with the
// count (0..64) in fieldCount, or -1 for an empty reply or a missing prefix (count 0).
int SplitReply(const std::string& reply, const std::string& prefix, ReplyFields& fields,
               int& fieldCount);

// Splits a test answer such as "(0-2),(0-3),(0,2)" into at most maxCount groups with ranges
// expanded ("0-3" becomes "0,1,2,3"). Text after the last closing parenthesis becomes a
// group of its own. Returns the number of groups; groups holds that many entries.
int SplitRangeGroups(std::vector<std::string>& groups, const std::string& text, int maxCount);

// Decimal value of a field: leading blanks skipped, an optional sign, then digits; text that
// is not a number counts as 0. found (optional) tells whether any digit was read.
int DecimalValue(const std::string& text, bool* found = nullptr);

// The first "OK" that forms a line of its own, or npos. A value such as "NOKIA" is no result.
size_t FindFinalOk(const std::string& reply);
