#pragma once
// A device that replays scripted replies: each command gets the next queued reply for it,
// else its fixed reply, else the fallback. Every exchange is recorded. Text set in
// m_incoming arrives with the next Read, as unsolicited lines would.
#include "link/Connection.h"
#include "link/TestClock.h"
#include "modem/Mobile.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ScriptedTransport : public CTransport {
public:
    struct Call {
        std::string command, extra;
        int timeoutMs;
        long long atMs;  // clock time when it was sent
    };

    explicit ScriptedTransport(IClock& clock) : CTransport(clock) {}

    int Open() override {
        ++m_opens;
        m_open = m_openResult == 1;
        return m_openResult;
    }
    int Close() override {
        ++m_closes;
        m_open = false;
        m_strReceived.clear();  // as the real transports do
        return 1;
    }
    int IsOpen() override { return m_open ? 1 : 0; }
    std::string Read() override {
        std::string chunk;
        chunk.swap(m_incoming);
        m_strReceived += chunk;
        return chunk;
    }
    int Write(const std::string& text) override { return static_cast<int>(text.size()); }
    std::string ReadUntil(const std::string&, const std::string&, const std::string&, int) override { return {}; }
    std::string Exchange(const std::string& command, const std::string& extra, int timeoutMs) override {
        m_calls.push_back({command, extra, timeoutMs, m_clock.NowMs()});
        if (m_onExchange) m_onExchange(command);
        std::string reply = m_fallback;
        if (auto q = m_queued.find(command); q != m_queued.end() && !q->second.empty()) {
            reply = q->second.front();
            q->second.pop_front();
        } else if (auto a = m_answers.find(command); a != m_answers.end()) {
            reply = a->second;
        }
        m_strReceived += reply;
        return reply;
    }
    // The prompt wait is recorded with its '>' as Exchange records it.
    std::string ExchangeUntil(const std::string& command, const std::vector<std::string>& ends, int timeoutMs) override {
        return Exchange(command, !ends.empty() && ends.front() == ">" ? ">" : "", timeoutMs);
    }
    bool HungUp() override { return m_hungUp; }
    int SetLines(int flags) override {
        m_lines.push_back({flags, static_cast<int>(m_calls.size())});
        return 1;
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> out;
        for (const Call& c : m_calls) out.push_back(c.command);
        return out;
    }
    int CountOf(const std::string& command) const {
        int n = 0;
        for (const Call& c : m_calls) n += c.command == command;
        return n;
    }
    const Call* Find(const std::string& command) const {
        for (const Call& c : m_calls)
            if (c.command == command) return &c;
        return nullptr;
    }

    bool m_hungUp = false;
    std::map<std::string, std::string> m_answers;
    std::map<std::string, std::deque<std::string>> m_queued;
    std::string m_fallback = "ERROR\r\n";
    std::function<void(const std::string&)> m_onExchange;
    std::vector<Call> m_calls;
    struct LineChange {
        int flags;
        int beforeCall;  // number of exchanges made before the change
    };
    std::vector<LineChange> m_lines;
    std::string m_incoming;
    int m_openResult = 1, m_opens = 0, m_closes = 0;
    bool m_open = false;
};

// A driver on a scripted serial device and a simulated clock.
struct ScriptedMobile {
    TestClock clock;
    ScriptedTransport* device = nullptr;
    std::unique_ptr<CMobile> mobile;

    ScriptedMobile() {
        auto serial = std::make_unique<ScriptedTransport>(clock);
        auto infrared = std::make_unique<ScriptedTransport>(clock);
        device = serial.get();
        mobile = std::make_unique<CMobile>(
            std::make_unique<CConnection>(std::move(serial), std::move(infrared)), clock);
        mobile->m_nConnectionMode = 1;
        mobile->m_nPort = 1;
        mobile->Connection().ConnectionMode = 1;
        device->m_open = true;
    }

    // The answers of a plain GSM modem to everything the initialisation sends.
    void AnswerLikeAModem() {
        for (const char* ok : {"AT\r", "AT&F\r", "ATE1\r", "ATV1\r", "ATQ0\r", "ATX4\r", "AT+CMEE=1\r",
                               "AT+CMER=1\r", "AT+CLIP=1\r", "AT+CMGF=0\r", "AT+CNMI=2,3,0,1,0\r",
                               "AT+CSCS=\"UCS2\"\r", "AT+CSCS=\"GSM\"\r", "AT+CPIN=\"1234\"\r"})
            device->m_answers[ok] = "OK\r\n";
        device->m_answers["AT+CPIN?\r"] = "+CPIN: READY\r\n\r\nOK\r\n";
        device->m_answers["AT+CGSN\r"] = "351234567890123\r\n\r\nOK\r\n";
        device->m_answers["AT+CGMI\r"] = "MODEMSIM\r\n\r\nOK\r\n";
        device->m_answers["AT+CGMM\r"] = "MS-100\r\n\r\nOK\r\n";
        device->m_answers["AT+CNMI=?\r"] = "+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n";
        device->m_answers["AT+CSCS=?\r"] = "+CSCS: (\"GSM\",\"IRA\",\"UCS2\")\r\n\r\nOK\r\n";
        device->m_answers["AT+CPMS?\r"] = "+CPMS: \"SM\",1,30,\"SM\",1,30,\"SM\",1,30\r\n\r\nOK\r\n";
    }
};
