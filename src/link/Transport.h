#pragma once
// A byte stream to the modem that moves text: commands out, reply text in. Every chunk
// received is also appended to m_strReceived, the buffer the unsolicited-indication scan
// reads and trims.
#include "link/Clock.h"
#include "link/LogFile.h"

#include <string>
#include <vector>

class CTransport {
public:
    explicit CTransport(IClock& clock) : m_clock(clock) {}
    virtual ~CTransport() = default;
    CTransport(const CTransport&) = delete;
    CTransport& operator=(const CTransport&) = delete;

    virtual int Open() = 0;    // 1 open, -1 failed
    virtual int Close() = 0;   // 1 closed or was not open, -1 refused
    virtual int IsOpen() = 0;  // 1 usable, 0 not
    // One chunk of text waiting now (may be empty); never waits for data not yet arrived.
    virtual std::string Read() = 0;
    // Bytes written; 0 (serial) or -1 (infrared) on failure.
    virtual int Write(const std::string& text) = 0;
    // Collects chunks until the text holds t1, t2 or t3 (empty ones are not tested) or the
    // time-out passes; returns what was collected either way.
    virtual std::string ReadUntil(const std::string& t1, const std::string& t2,
                                  const std::string& t3, int timeoutMs) = 0;
    // Sends a command (with its final CR) and returns the reply with the command's echo and
    // leading line ends removed; empty when the command was not written completely.
    virtual std::string Exchange(const std::string& command, const std::string& extra,
                                 int timeoutMs) = 0;
    // As Exchange, but the reply is collected until it holds any of `ends`, the time-out
    // passes or the port hangs up (the device was pulled or its other side closed).
    virtual std::string ExchangeUntil(const std::string& command, const std::vector<std::string>& ends,
                                      int timeoutMs);
    // True once the device has gone: a hang-up or an error on the port.
    virtual bool HungUp() { return false; }
    // Modem control lines (bit 0 DTR, bit 1 RTS); only the serial transport has them.
    virtual int SetLines(int flags);
    // Port number and speed; only the serial transport uses them.
    virtual void Configure(int port, int baud);
    // The descriptor input arrives on, for waiting on it; -1 when there is none.
    virtual int Descriptor() const { return -1; }

    // Drops the first count characters of m_strReceived; a count <= 0, or one that is not
    // smaller than the buffer, leaves it unchanged.
    void Consume(int count);

    std::string m_strReceived;

    // True when text contains t1, t2 or t3 (each only when non-empty).
    static bool HasTerminator(const std::string& text, const std::string& t1,
                              const std::string& t2, const std::string& t3);
    // The reply clean-up of an exchange: every copy of the command removed, then the
    // leading CR and LF characters.
    static std::string CleanReply(std::string reply, const std::string& command);

protected:
    // Stale input dropped, command written, reply collected until "OK", "ERROR" or the
    // extra terminator, then cleaned.
    std::string ExchangeSteps(const std::string& command, const std::string& extra, int timeoutMs);
    // Writes a received chunk to the log (with a time stamp when `timed`); the PIN of an
    // echoed AT+CPIN= never shows there, however the echo is split across chunks.
    void LogReceived(const std::string& chunk, bool timed);

    IClock& m_clock;

private:
    CPinMask m_logMask;
};
