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

// A "+CMGR:" answer in PDU mode. Modems lay out its header in several ways:
// "<stat>,[<alpha>],<length>", "<stat>,<length>", "<length>" alone, or any of these after the
// index that was asked for. The fields are told apart by what they hold: the length is the
// last of them, an echoed index equals the index asked for and makes one field more, and an
// alpha field is quoted or empty. The PDU is the first line after the header.
struct StoredRead {
    int nStatus = 0;      // 0..3; 0 when the header names none
    int nLength = 0;      // as the header gives it
    std::string strPdu;   // empty when the answer holds no PDU line
};
// 1 with `read` filled, -1 when the reply holds no "+CMGR:" header with a length.
int ParseStoredRead(const std::string& reply, int index, StoredRead& read);

// The indexes a "+CMGL:" listing names, in its order; each header line starts with the index.
std::vector<int> ParseListedIndexes(const std::string& reply);

// The storages an "AT+CPMS=?" answer offers for reading and deleting (its first group),
// without quotes; empty when the reply names none.
std::vector<std::string> ParseStoreNames(const std::string& reply);
