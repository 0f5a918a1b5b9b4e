#include "link/LogFile.h"
#include "modem/Mobile.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr char CTRL_Z = '\x1A';
constexpr int PACING_SLICE_MS = 50;

bool Has(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

}  // namespace

int CMobile::SendMessage(const std::string& phone, const std::string& text, int kind) {
    if (phone.empty() || text.empty() || kind < KIND_TEXT || kind > KIND_DATA) return -1;
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    m_pdu.m_strPhone = phone;
    m_pdu.m_strText = text;
    m_pdu.m_nValidityMinutes = m_nValidityMinutes;
    m_pdu.m_bReportRequest = m_bReportRequest;
    m_pdu.m_nKind = kind;
    m_pdu.m_nEncodeCodePage = m_nEncodeCodePage;
    const int encoded = kind == KIND_LONG ? m_pdu.EncodeLong() : m_pdu.EncodeText();
    if (encoded != PDU_OK) return -1;
    return SubmitPdus(SUBMIT_SEND);
}

// Waits until needMs have passed since the last submission; false when a stop cut it short.
bool CMobile::WaitForPacing(long long needMs) {
    while (std::llabs(m_clock.NowMs() - m_nLastSubmitMs) < needMs) {
        if (m_clock.StopRequested()) return false;
        PumpPaintMessages();
        m_clock.SleepMs(PACING_SLICE_MS);
    }
    return true;
}

int CMobile::SubmitPdus(int mode) {
    // The pause spaces submissions: the very first one has nothing to be spaced from.
    const bool first = !m_bSubmitted;
    if (first) {
        m_bSubmitted = true;
        m_nLastSubmitMs = m_clock.NowMs();
    }
    const int limitMs = m_nCommandLimit * 1000;
    const int count = std::min<int>(m_pdu.m_nSegmentCount, static_cast<int>(m_pdu.m_pdusOut.size()));
    int result = 1;
    for (int segment = 0; segment < count; ++segment) {
        const std::string& pdu = m_pdu.m_pdusOut[static_cast<size_t>(segment)];
        theLog.Printf("\nSMSCount=%d", count);
        bool done = false;
        for (int attempt = 0; attempt < m_nSendAttempts && !done; ++attempt) {
            theLog.Printf("\nSMSSendTryTimes=%d, times=%d", count, attempt);
            if (attempt > 0) Ask("AT+CMGF=0\r", "", 2000);
            if (!Has(Ask("AT\r", "", 5000), "OK")) {
                // A modem still waiting for PDU input takes the Ctrl-Z and answers again.
                Ask(std::string(1, CTRL_Z), "", 5000);
                theLog.Printf("\nNo Answer");
                continue;
            }
            const int octets = static_cast<int>(pdu.size() / 2) - 1;  // without the SMSC octet
            std::string command;
            if (mode == SUBMIT_SEND) {
                if (!first || segment > 0 || attempt > 0)
                    WaitForPacing(static_cast<long long>(attempt + m_nRetryInterval) * 1000);
                command = "AT+CMGS=" + std::to_string(octets) + "\r";
            } else {
                command = "AT+CMGW=" + std::to_string(octets) + "\r";
            }
            theLog.Printf("\nCommand=%s", command.c_str());
            if (!Has(Ask(command, ">", limitMs), ">")) {
                theLog.Printf("\n'>' Not Found");
                m_nLastSubmitMs = m_clock.NowMs();
                continue;
            }
            const std::string body = pdu + CTRL_Z;
            theLog.Printf("\nCommand=%s", body.c_str());
            const std::string reply = Ask(body, "", limitMs);
            m_nLastSubmitMs = m_clock.NowMs();
            if (!Has(reply, "OK")) {
                theLog.Printf("\n OK Not Found  %s", reply.c_str());
                continue;
            }
            const size_t at = reply.find("+CMG");
            if (at == std::string::npos) {
                theLog.Printf("\n +CMG Not Found  %s", reply.c_str());
                continue;  // accepted without a reference: submitted again
            }
            bool found = false;
            const int reference = DecimalValue(reply.size() > at + 6 ? reply.substr(at + 6) : "", &found);
            if (found) result = reference;
            done = true;
        }
        if (!done) {
            m_nLastSubmitMs = m_clock.NowMs();
            return -1;  // the remaining PDUs are not sent
        }
    }
    return result;
}
