#include "link/LogFile.h"
#include "modem/Mobile.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr char CTRL_Z = '\x1A';
constexpr char ESC = '\x1B';
constexpr int PACING_SLICE_MS = 50;
constexpr int ESC_ANSWER_MS = 2000;

bool Has(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

// What a modem says when it has just started again: every setting is back at its default
// and whatever it was doing is lost.
bool Restarted(const std::string& reply) { return Has(reply, "\nRDY\r") || Has(reply, "+CPIN: READY"); }

// The line of a reply that holds "ERROR" ("+CMS ERROR: 500"), at most 120 characters; or
// `otherwise` when there is none.
std::string ErrorLine(const std::string& reply, const char* otherwise) {
    const std::size_t at = reply.find("ERROR");
    if (at == std::string::npos) return otherwise;
    const std::size_t start = reply.find_last_of("\r\n", at);
    const std::size_t begin = start == std::string::npos ? 0 : start + 1;
    std::string line = reply.substr(begin, std::min<std::size_t>(reply.find_first_of("\r\n", at) - begin, 120));
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    return line;
}

}  // namespace

int CMobile::Encode(CSmsPdu& record, const std::string& phone, const std::string& text, int kind) const {
    if (phone.empty() || text.empty() || kind < KIND_TEXT || kind > KIND_DATA) return -1;
    record.m_strPhone = phone;
    record.m_strText = text;
    record.m_nValidityMinutes = m_nValidityMinutes;
    record.m_bReportRequest = m_bReportRequest;
    record.m_nKind = kind;
    record.m_nEncodeCodePage = m_nEncodeCodePage;
    const int encoded = kind == KIND_LONG ? record.EncodeLong() : record.EncodeText();
    return encoded == PDU_OK ? record.m_nSegmentCount : encoded;
}

int CMobile::CountSegments(const std::string& phone, const std::string& text, int kind) const {
    CSmsPdu record;
    return Encode(record, phone, text, kind);
}

int CMobile::SendMessage(const std::string& phone, const std::string& text, int kind) {
    m_strSubmitError = "the message cannot be encoded";
    if (phone.empty() || text.empty() || kind < KIND_TEXT || kind > KIND_DATA) return -1;
    if (WaitNotBusy()) {
        m_strSubmitError = "the modem was busy";
        return -1;
    }
    BusyScope busy(*this);
    if (Encode(m_pdu, phone, text, kind) <= 0) return -1;
    m_strSubmitError.clear();
    return SubmitPdus(SUBMIT_SEND);
}

// ESC ends PDU input without sending anything; a modem in command mode ignores it.
void CMobile::LeavePduInput() { Ask(std::string(1, ESC), "", ESC_ANSWER_MS); }

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
    const int limitMs = m_nCommandLimit * 1000;  // for the prompt
    const int count = std::min<int>(m_pdu.m_nSegmentCount, static_cast<int>(m_pdu.m_pdusOut.size()));
    int result = 1;
    bool handed = false;  // a PDU of this message was written
    for (int segment = 0; segment < count; ++segment) {
        const std::string& pdu = m_pdu.m_pdusOut[static_cast<size_t>(segment)];
        theLog.Printf("\nSMSCount=%d", count);
        bool done = false;
        for (int attempt = 0; attempt < m_nSendAttempts && !done; ++attempt) {
            theLog.Printf("\nSMSSendTryTimes=%d, times=%d", count, attempt);
            if (attempt > 0) Ask("AT+CMGF=0\r", "", 2000);
            if (!Has(Ask("AT\r", "", 5000), "OK")) {
                m_strSubmitError = "no answer from the modem";
                // A modem still in PDU input takes ESC and answers again; a Ctrl-Z here
                // would send whatever it holds.
                LeavePduInput();
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
            const std::string prompt =
                m_pConnection->ExchangeUntil(command, {">", "OK", "ERROR", "+CPIN: READY"}, limitMs);
            if (Restarted(prompt) || m_pConnection->HungUp()) {
                // Nothing refused the message: a fresh modem may take it later.
                theLog.Printf("\nModem restarted or gone while waiting for '>'");
                m_strSubmitError = "the modem restarted or went away";
                m_bResetSeen = true;
                return handed ? SUBMIT_UNKNOWN : SUBMIT_NOT_HANDED;
            }
            if (!Has(prompt, ">")) {
                theLog.Printf("\n'>' Not Found");
                m_strSubmitError = ErrorLine(prompt, "no prompt from the modem");
                // Without a final result the modem may be waiting for the PDU all the same.
                if (!Has(prompt, "OK") && !Has(prompt, "ERROR")) LeavePduInput();
                m_nLastSubmitMs = m_clock.NowMs();
                continue;
            }
            if (!handed && m_beforePdu && !m_beforePdu()) {
                LeavePduInput();
                return SUBMIT_NOT_HANDED;
            }
            // From here on the PDU is the modem's: it is never written a second time.
            handed = true;
            const std::string body = pdu + CTRL_Z;
            theLog.Printf("\nCommand=%s", body.c_str());
            const std::string reply =
                m_pConnection->ExchangeUntil(body, {"OK", "ERROR", "\nRDY\r", "+CPIN: READY"}, m_nAnswerLimit * 1000);
            m_nLastSubmitMs = m_clock.NowMs();
            if (Restarted(reply) || (!Has(reply, "OK") && !Has(reply, "ERROR") && m_pConnection->HungUp())) {
                theLog.Printf("\nModem restarted or gone after the PDU  %s", reply.c_str());
                m_strSubmitError = "the modem restarted or went away after the message was handed over";
                m_bResetSeen = true;
                return SUBMIT_UNKNOWN;
            }
            if (Has(reply, "ERROR")) {
                theLog.Printf("\n OK Not Found  %s", reply.c_str());
                m_strSubmitError = ErrorLine(reply, "");
                continue;  // refused: nothing went out
            }
            if (!Has(reply, "OK")) {
                theLog.Printf("\nNo Final Result  %s", reply.c_str());
                m_strSubmitError = "no answer from the modem after the message was handed over";
                return SUBMIT_UNKNOWN;  // the remaining PDUs are not sent
            }
            // Accepted; a modem that names no reference gets 0.
            const size_t at = reply.find("+CMG");
            bool found = false;
            const int reference =
                at == std::string::npos ? 0 : DecimalValue(reply.size() > at + 6 ? reply.substr(at + 6) : "", &found);
            result = found ? reference : 0;
            m_strSubmitError.clear();
            done = true;
        }
        if (!done) {
            m_nLastSubmitMs = m_clock.NowMs();
            return -1;  // the remaining PDUs are not sent
        }
    }
    return result;
}
