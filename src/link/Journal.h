#pragma once
// The system journal: syslog lines under the identifier "orvane-pellwick", written in
// every run mode whether or not the log file is on. Each line is one datagram to the
// local syslog socket (journald reads the same socket); a journal that cannot be
// reached loses the line and nothing waits.
#include <string>

enum JournalPriority { JOURNAL_ERR = 3, JOURNAL_WARNING = 4, JOURNAL_NOTICE = 5, JOURNAL_INFO = 6 };

// Writes one line (printf-style) at a priority.
void Journal(JournalPriority priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The last line written at JOURNAL_ERR by this process, after its local time
// ("2026-01-31 14:05:00 text"), on one line; "" when there was none.
std::string LastJournalError();

// Where the lines go: "/dev/log" unless a test points them at a socket of its own.
void SetJournalSocket(const std::string& path);
