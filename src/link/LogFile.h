#pragma once
// The one diagnostic log of the process: a plain append-only text file kept below a
// size limit by discarding its oldest bytes. Every write opens, appends and closes.
#include <cstdarg>
#include <ctime>
#include <mutex>
#include <string>

// Hides the PIN of every AT+CPIN= command in a stream of text that arrives in pieces:
// what follows the command up to the end of its line never passes, however the pieces
// split it. One per stream.
class CPinMask {
public:
    std::string Filter(const std::string& text);

private:
    std::size_t m_matched = 0;  // characters of "AT+CPIN=" at the end of the text so far
    bool m_hiding = false;      // inside a PIN, until its line ends
};

class CLogFile {
public:
    int m_nLimitKB = 1024;  // size limit in units of 1024 bytes

    void SetFileName(const std::string& path);
    std::string GetFileName() const;
    void SetEnabled(int flag);
    int IsEnabled() const { return m_bEnabled; }

    // 1 written, 0 logging off, -1 the file cannot be opened.
    int Write(const std::string& text);
    int WriteTimed(const std::string& text);
    // printf-style; always 1.
    int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int PrintfTimed(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Applies the size limit: 1 done or nothing to do, -1 the file cannot be opened.
    int Trim();

    // Helpers exposed for tests: the line-end rule and the time-stamp prefix.
    static std::string NormaliseLineEnds(const std::string& text);
    static std::string TimeStamp(const std::tm& local, unsigned milliseconds);
    // The PIN of every AT+CPIN= command in a text replaced by "****".
    static std::string MaskPin(const std::string& text);

private:
    int TrimLocked();
    static std::string Format(const char* format, va_list args);

    mutable std::mutex m_mutex;  // serialises writers of this process; flock covers others
    std::string m_strFileName;
    int m_bEnabled = 0;
};

extern CLogFile theLog;
