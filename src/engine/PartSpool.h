#pragma once
// Parts of concatenated messages that wait for the rest of their message. Each part is
// written to the part spool file (WriteFileDurably) before it may leave the modem, and
// dropped once the joined row is in the inbox, so nothing waiting is lost across a
// restart. One line per part; time, phone and text are hex, so no received byte can
// break the file's lines.
#include <string>
#include <vector>

struct MessagePart {
    std::string phone;
    int reference = 0;  // concatenation reference (8 or 16 bit)
    int count = 0;      // parts of the message
    int number = 0;     // 1..count; 0 marks a message already stored (see Remove)
    std::string text;
    std::string time;   // the modem's time stamp, "YYMMDDhhmmss"
    long long arrivedMs = 0;  // wall clock of arrival, ms since the epoch

    bool SameMessage(const MessagePart& other) const {
        return phone == other.phone && reference == other.reference && count == other.count;
    }
};

class CPartSpool {
public:
    // Empty path: memory only. Loads the parts the file holds.
    void SetPath(std::string path);

    // Keeps the part; a part already kept, or one of a message stored lately, is ignored.
    // False when the file could not be written: the part is kept in memory, but must stay
    // in the modem.
    bool Add(const MessagePart& part);
    // Messages whose parts are all there, or whose earliest part arrived `timeoutMs` or
    // more before `nowMs`: each as its parts in number order.
    std::vector<std::vector<MessagePart>> Ready(long long nowMs, long long timeoutMs) const;
    // Drops every part of the message `part` belongs to, stored at `nowMs`, and remembers
    // the message until Prune forgets it, so a late repeat of one of its parts is not taken
    // for a new message. False when the file could not be written (the parts are dropped
    // all the same: a restart before the next write would join the message once more).
    bool Remove(const MessagePart& part, long long nowMs);
    // Forgets stored messages remembered `keepMs` or longer.
    void Prune(long long nowMs, long long keepMs);
    // The parts waiting.
    std::size_t Size() const;

private:
    bool Store();

    std::string m_path;
    std::vector<MessagePart> m_parts;
    bool m_bUnwritten = false;  // the file lags behind m_parts
};

// A state-file field as hex, "-" for an empty one, so every field of a line is one word;
// and back (false for anything else).
std::string FieldHex(const std::string& bytes);
bool FieldFromHex(const std::string& hex, std::string& bytes);

// The text of a message from its parts in number order: each missing part is "[...]".
// `missing` receives the missing numbers, comma-separated ("2, 4").
std::string JoinParts(const std::vector<MessagePart>& parts, std::string* missing = nullptr);
