#include "link/Transport.h"

int CTransport::SetLines(int) { return 1; }

void CTransport::Configure(int, int) {}

void CTransport::LogReceived(const std::string& chunk, bool timed) {
    const std::string shown = m_logMask.Filter(chunk);
    if (shown.empty()) return;  // the whole chunk was PIN
    if (timed)
        theLog.WriteTimed(shown);
    else
        theLog.Write(shown);
}

void CTransport::Consume(int count) {
    if (count <= 0 || static_cast<size_t>(count) >= m_strReceived.size()) return;
    m_strReceived.erase(0, static_cast<size_t>(count));
}

bool CTransport::HasTerminator(const std::string& text, const std::string& t1,
                               const std::string& t2, const std::string& t3) {
    for (const std::string* t : {&t1, &t2, &t3})
        if (!t->empty() && text.find(*t) != std::string::npos) return true;
    return false;
}

std::string CTransport::CleanReply(std::string reply, const std::string& command) {
    if (!command.empty()) {
        for (size_t at = reply.find(command); at != std::string::npos; at = reply.find(command, at))
            reply.erase(at, command.size());
    }
    const size_t first = reply.find_first_not_of("\r\n");
    reply.erase(0, first == std::string::npos ? reply.size() : first);
    return reply;
}

std::string CTransport::ExchangeSteps(const std::string& command, const std::string& extra,
                                      int timeoutMs) {
    Read();  // stale input still reaches m_strReceived and the log, but not this reply
    if (Write(command) != static_cast<int>(command.size())) return std::string();
    return CleanReply(ReadUntil("OK", "ERROR", extra, timeoutMs), command);
}

std::string CTransport::ExchangeUntil(const std::string& command, const std::vector<std::string>& ends,
                                      int timeoutMs) {
    Read();
    if (Write(command) != static_cast<int>(command.size())) return std::string();
    const long long deadline = m_clock.NowMs() + timeoutMs;
    std::string collected;
    while (m_clock.NowMs() < deadline && !m_clock.StopRequested() && !HungUp()) {
        m_clock.PumpMessages();
        if (Descriptor() >= 0)
            m_clock.SleepUntilReadable(Descriptor(), 20);
        else
            m_clock.SleepMs(20);
        const std::string chunk = Read();
        if (chunk.empty()) continue;
        collected += chunk;
        bool ended = false;
        for (const std::string& end : ends) ended = ended || collected.find(end) != std::string::npos;
        if (ended) break;
    }
    return CleanReply(collected, command);
}
