#include "link/LogFile.h"
#include "modem/Mobile.h"

#include <algorithm>
#include <initializer_list>

namespace {

// The message is read at once; only a failed read is tried again, after a pause.
constexpr int READ_RETRY_DELAYS_MS[] = {0, 150, 250};
constexpr int SLEEP_SLICE_MS = 50;
constexpr long long SAME_CALLER_MS = 8000;
constexpr size_t RECEIVED_LIMIT = 1024;
constexpr size_t RECEIVED_KEEP = 512;

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

size_t FindFrom(const std::string& text, const char* what, int from) {
    if (from < 0 || static_cast<size_t>(from) > text.size()) return std::string::npos;
    return text.find(what, static_cast<size_t>(from));
}

// The end of the line starting at `at` (its first CR or LF), npos while it is incomplete.
size_t LineEnd(const std::string& text, size_t at) { return text.find_first_of("\r\n", at); }

// The start of the text's last line, which may still be incomplete.
size_t LastLineStart(const std::string& text) {
    const size_t end = text.find_last_of("\r\n");
    return end == std::string::npos ? 0 : end + 1;
}

}  // namespace

size_t CMobile::FindIndication(const std::string& text, int from, const char* direct, const char* stored) {
    if (from < 0) from = 0;
    for (size_t at = static_cast<size_t>(from); at < text.size(); ++at) {
        if (at > 0 && !IsLineEnd(text[at - 1])) continue;
        if (text.compare(at, std::char_traits<char>::length(direct), direct) == 0 ||
            text.compare(at, std::char_traits<char>::length(stored), stored) == 0)
            return at;
    }
    return std::string::npos;
}

void CMobile::RestartScan() {
    m_nMessagePos = m_nReportPos = m_nCallPos = 0;
    m_bAckPending = false;  // owed to the old link; the modem delivers it again
}

int CMobile::PollEvents() {
    if (m_pConnection->IsOpen() != 1) return 0;
    if (m_bBusy) return -1;
    BusyScope busy(*this);
    m_pConnection->Read();
    const std::string received = m_pConnection->GetReceived();

    // Messages ("+CMT:" direct, "+CMTI:" stored), then status reports ("+CDS:", "+CDSI:"):
    // the first indication line of each kind after its scan position.
    for (const bool reports : {false, true}) {
        int& position = reports ? m_nReportPos : m_nMessagePos;
        const char* direct = reports ? "+CDS:" : "+CMT:";
        const char* stored = reports ? "+CDSI:" : "+CMTI:";
        const size_t at = FindIndication(received, position, direct, stored);
        if (at == std::string::npos) {
            // The complete lines before the last hold nothing of this kind.
            position = std::max(position, static_cast<int>(LastLineStart(received)));
            continue;
        }
        const bool isStored = received.compare(at, 6, stored) == 0;
        if (const int result = isStored ? PollStored(received, at, reports) : PollDirect(received, at, reports))
            return result;
    }
    if (const int result = PollCalls(received)) return result;
    Housekeeping(received);
    return 1;
}

// A direct indication: a header line "+CMT: [alpha],<length>" or "+CDS: <length>", then the
// PDU line. It waits for a later poll until the PDU line has ended; a PDU shorter than its
// length or one that does not decode is handed over as undecodable (messages only).
int CMobile::PollDirect(const std::string& text, size_t at, bool reports) {
    const size_t headerEnd = LineEnd(text, at);
    if (headerEnd == std::string::npos) return 0;
    const size_t pduStart = text.find_first_not_of("\r\n", headerEnd);
    const size_t pduEnd = pduStart == std::string::npos ? std::string::npos : LineEnd(text, pduStart);
    if (pduEnd == std::string::npos) return 0;

    const std::string header = text.substr(at, headerEnd - at);
    const size_t comma = header.rfind(',');
    const int length = DecimalValue(header.substr(comma == std::string::npos ? 5 : comma + 1));
    const std::string pdu = text.substr(pduStart, pduEnd - pduStart);
    (reports ? m_nReportPos : m_nMessagePos) = static_cast<int>(pduEnd);
    m_bAckPending = m_bAckDirect != 0;

    m_pdu.m_strPduIn = pdu;
    m_pdu.m_nStorageStatus = 0;
    m_pdu.m_nDecodeCodePage = 0;
    const bool decoded = HoldsLength(pdu, length) && m_pdu.Decode() == PDU_OK;
    // What no one can keep (a report that does not decode, a report announced as a message)
    // is acknowledged at once, so that the network does not deliver it again and again.
    if (reports) {
        if (!decoded || m_pdu.m_nKind != KIND_STATUS_REPORT) return SendAcknowledgement(), 0;
        m_statusReport = {m_pdu.m_nReference, m_pdu.m_bDelivered, m_pdu.m_strPhone, m_pdu.m_strTime};
        return POLL_STATUS_REPORT;
    }
    if (decoded && m_pdu.m_nKind == KIND_STATUS_REPORT) return SendAcknowledgement(), 0;
    m_received = Received{};
    m_received.strPdu = pdu;
    m_received.bDecoded = decoded ? 1 : 0;
    if (!decoded) {
        theLog.WriteTimed("Direct message does not decode: " + pdu + "\r\n");
        return POLL_UNDECODABLE;
    }
    m_received.nKind = m_pdu.m_nKind;
    m_received.strPhone = m_pdu.m_strPhone;
    m_received.strText = m_pdu.m_strText;
    m_received.strTime = m_pdu.m_strTime;
    return POLL_NEW_MESSAGE;
}

// A storage indication "+CMTI: <mem>,<index>" (or "+CDSI:"): the message is read from its
// storage and the previous read storage selected again. A message stays in the store: the
// engine deletes it once the inbox holds it. A status report is deleted when configured.
int CMobile::PollStored(const std::string& text, size_t at, bool reports) {
    const size_t end = LineEnd(text, at);
    if (end == std::string::npos) return 0;
    const char* prefix = reports ? "+CDSI:" : "+CMTI:";
    if (ParseReply(text.substr(at, end + 1 - at), prefix) != 1) return 0;
    theLog.WriteTimed(std::string(prefix) + " " + (m_nFieldCount > 0 ? m_fields[0] : "") + "," +
                      (m_nFieldCount > 1 ? m_fields[1] : "") + "\r\n");
    (reports ? m_nReportPos : m_nMessagePos) = static_cast<int>(end);
    if (m_nFieldCount < 2) return 0;
    const std::string storage = m_fields[0];
    bool numbered = false;
    const int index = DecimalValue(m_fields[1], &numbered);  // stores may number from 0
    if (!numbered || index < 0) return 0;

    const std::string previous = m_strStorage;
    const bool switched = storage != m_strStorage;
    if (switched) SelectStorage(storage);

    int result = 0;
    for (int delay : READ_RETRY_DELAYS_MS) {
        if (delay > 0) SlicedSleep(m_clock, delay, SLEEP_SLICE_MS);
        int read = ReadMessage(index);
        // A PDU with neither sender nor text would be an empty row: it goes as undecodable.
        if (read == 1 && m_pdu.m_strPhone.empty() && m_pdu.m_strText.empty()) read = READ_UNDECODABLE;
        if (read == READ_UNDECODABLE && !reports) {
            m_received = Received{};
            m_received.nReference = index;
            m_received.strStorage = storage;
            m_received.strPdu = m_pdu.m_strPduIn;
            m_received.bDecoded = 0;
            m_received.bInStore = 1;
            theLog.WriteTimed("Stored message does not decode: " + m_pdu.m_strPduIn + "\r\n");
            result = POLL_UNDECODABLE;
            break;
        }
        // An empty place is no message: nothing to insert or delete.
        if (read != 1 || (m_pdu.m_nKind == KIND_STATUS_REPORT) != reports) continue;
        if (reports) {
            if (m_bDeleteReadReport) Ask("AT+CMGD=" + std::to_string(index) + "\r", "", 5000);
            m_statusReport = {m_pdu.m_nReference, m_pdu.m_bDelivered, m_pdu.m_strPhone, m_pdu.m_strTime,
                              m_bDeleteReadReport ? 0 : index, storage, m_bDeleteReadReport ? 0 : 1};
            theLog.WriteTimed("NEW Status Report\r\n");
            result = POLL_STATUS_REPORT;
        } else {
            m_received = {index,   m_pdu.m_nKind,     m_pdu.m_strPhone, m_pdu.m_strText, m_pdu.m_strTime,
                          storage, m_pdu.m_strPduIn, 1,                1};
            theLog.WriteTimed("NEW Message\r\n");
            result = POLL_NEW_MESSAGE;
        }
        break;
    }
    if (switched) SelectStorage(previous);
    return result;  // 0: left in the store for the store scan
}

// Some modems take only the form with <n> in PDU mode; 340 says no acknowledgement is expected.
bool CMobile::SendAcknowledgement() {
    if (!m_bAckPending) return true;
    m_bAckPending = false;
    std::string reply;
    for (const char* command : {"AT+CNMA\r", "AT+CNMA=0\r"}) {
        reply = Ask(command, "", 2000);
        if (FindFinalOk(reply) != std::string::npos) return true;
        if (reply.find("+CMS ERROR: 340") != std::string::npos) break;
    }
    theLog.WriteTimed("Acknowledgement refused: " + reply + "\r\n");
    return false;
}

int CMobile::AcknowledgeDirect() {
    if (!m_bAckPending) return 1;
    if (m_pConnection->IsOpen() != 1 || WaitNotBusy()) return -1;
    BusyScope busy(*this);
    if (SendAcknowledgement()) return 1;
    // Refused: the wait ran out and the modem turned routing off.
    if (!m_strCnmi.empty()) Ask(m_strCnmi, "OK", 2000);
    return 0;
}

int CMobile::CheckRouting() {
    if (!m_bAckDirect || m_strCnmi.empty()) return 1;
    if (m_pConnection->IsOpen() != 1 || WaitNotBusy()) return -1;
    BusyScope busy(*this);
    const std::string reply = Ask("AT+CNMI?\r", "OK", 2000);
    if (reply.find("OK") == std::string::npos || ParseReply(reply, "+CNMI:") != 1 || m_nFieldCount < 4) return -1;
    const ReplyFields current = m_fields;
    // The values set: "AT+CNMI=<mode>,<mt>,<bm>,<ds>[,<bfr>]\r".
    if (ParseReply(m_strCnmi.substr(m_strCnmi.find('=') + 1), "") != 1 || m_nFieldCount < 4) return 1;
    constexpr int MT = 1, DS = 3;
    bool off = false;
    for (const int field : {MT, DS})
        off = off || (DecimalValue(current[field]) == 0 && DecimalValue(m_fields[field]) != 0);
    if (!off) return 1;
    theLog.WriteTimed("\r\nRouting of new messages was turned off; set again: " + m_strCnmi);
    Ask(m_strCnmi, "OK", 2000);
    return 0;
}

int CMobile::HoldDirectDelivery(bool hold) {
    if (m_strCnmi.empty() || hold == m_bDirectHeld) return 1;
    if (m_pConnection->IsOpen() != 1 || WaitNotBusy()) return -1;
    BusyScope busy(*this);
    std::string command = m_strCnmi;
    if (hold) {
        // "AT+CNMI=<mode>,<mt>,<bm>,<ds>[,<bfr>]": mt 1 stores messages, ds 2 stores reports.
        if (ParseReply(m_strCnmi.substr(m_strCnmi.find('=') + 1), "") != 1 || m_nFieldCount < 2) return -1;
        constexpr int MT = 1, DS = 3;
        command = "AT+CNMI=";
        for (int i = 0; i < m_nFieldCount; ++i) {
            std::string value = m_fields[static_cast<size_t>(i)];
            if (i == MT && DecimalValue(value) >= 2) value = "1";
            if (i == DS && DecimalValue(value) == 1) value = "2";
            command += (i ? "," : "") + value;
        }
        command += "\r";
    }
    if (FindFinalOk(Ask(command, "OK", 2000)) == std::string::npos) return -1;
    m_bDirectHeld = hold;
    theLog.WriteTimed(std::string("\r\nDirect delivery ") + (hold ? "held: " : "back: ") + command);
    return 1;
}

// A caller seen again within 8 seconds is the same call ringing on: 0. A new one: 9003.
int CMobile::NoteCaller(const std::string& number) {
    const long long now = m_clock.NowMs();
    const bool repeated = m_bCallSeen && now - m_nLastCallMs <= SAME_CALLER_MS && number == m_strLastCaller;
    m_bCallSeen = true;
    m_nLastCallMs = now;
    if (repeated) return 0;
    m_strLastCaller = number;
    return POLL_INCOMING_CALL;
}

int CMobile::PollCalls(const std::string& text) {
    const size_t ring = FindFrom(text, "RING", m_nCallPos);
    if (ring != std::string::npos) {
        m_nCallPos = static_cast<int>(ring) + 6;
        // Without calling line identification the caller is asked for.
        if (FindFrom(text, "+CLIP", m_nCallPos) == std::string::npos) Ask("AT+CLCC\r", "", 2000);
    }
    const size_t list = FindFrom(text, "+CLCC:", m_nCallPos);
    if (list != std::string::npos && ParseReply(text.substr(list), "+CLCC:") == 1 && m_nFieldCount > 6) {
        m_nCallPos = static_cast<int>(list) + 6;
        if (const int result = NoteCaller(m_fields[5])) return result;
    }
    const size_t clip = FindFrom(text, "+CLIP:", m_nCallPos);
    if (clip != std::string::npos && ParseReply(text.substr(clip), "+CLIP:") == 1 && m_nFieldCount >= 1) {
        m_nCallPos = static_cast<int>(clip) + 6;
        if (const int result = NoteCaller(m_fields[0])) return result;
    }
    const bool pending = FindFrom(text, "RING", m_nCallPos) != std::string::npos ||
                         FindFrom(text, "+CLCC:", m_nCallPos) != std::string::npos ||
                         FindFrom(text, "+CLIP:", m_nCallPos) != std::string::npos;
    if (!pending) m_nCallPos = std::max(m_nCallPos, static_cast<int>(LastLineStart(text)));
    return 0;
}

// Drops the received text every scan has passed. A last line that grows beyond the limit
// without ending is noise: it is cut to its last 512 characters.
void CMobile::Housekeeping(const std::string& received) {
    int* positions[] = {&m_nMessagePos, &m_nReportPos, &m_nCallPos};
    // Consume keeps the text when asked to drop all of it: once every scan has passed the
    // whole text, all but its last character goes. Keeping the whole text instead let it
    // grow with every reply of a busy link, and every poll copied it.
    const int least = std::min({m_nMessagePos, m_nReportPos, m_nCallPos, static_cast<int>(received.size()) - 1});
    if (least > 0) {
        m_pConnection->Consume(least);
        for (int* p : positions) *p -= least;
    }
    const std::string rest = m_pConnection->GetReceived();
    if (rest.size() > RECEIVED_LIMIT && rest.size() - LastLineStart(rest) > RECEIVED_LIMIT) {
        const int cut = static_cast<int>(rest.size() - RECEIVED_KEEP);
        m_pConnection->Consume(cut);
        for (int* p : positions) *p = std::max(*p - cut, 0);
    }
}
