#include "link/LogFile.h"
#include "modem/Mobile.h"

#include <algorithm>

namespace {

// The message is read at once; only a failed read is tried again, after a pause.
constexpr int READ_RETRY_DELAYS_MS[] = {0, 150, 250};
constexpr int SLEEP_SLICE_MS = 50;
constexpr long long SAME_CALLER_MS = 8000;
constexpr size_t RECEIVED_LIMIT = 1024;
constexpr size_t RECEIVED_KEEP = 512;

size_t FindFrom(const std::string& text, const char* what, int from) {
    if (from < 0 || static_cast<size_t>(from) > text.size()) return std::string::npos;
    return text.find(what, static_cast<size_t>(from));
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

int CMobile::PollEvents() {
    if (m_pConnection->IsOpen() != 1) return 0;
    if (m_bBusy) return -1;
    BusyScope busy(*this);
    m_pConnection->Read();
    const std::string received = m_pConnection->GetReceived();

    // Messages: "+CMTI:" announces a stored one, "+CMT:" delivers it with the PDU.
    const size_t message = FindFrom(received, "+CMT", m_nMessagePos);
    if (message != std::string::npos) {
        const bool stored = FindFrom(received, "+CMTI:", m_nMessagePos) != std::string::npos;
        const int result = stored ? PollStored(received, message, false) : PollDirect(received, message, false);
        if (result) return result;
    }
    // Status reports: "+CDSI:" stored, "+CDS:" direct.
    const size_t report = FindFrom(received, "+CDS", m_nReportPos);
    if (report != std::string::npos) {
        const bool stored = FindFrom(received, "+CDSI:", m_nReportPos) != std::string::npos;
        const int result = stored ? PollStored(received, report, true) : PollDirect(received, report, true);
        if (result) return result;
    }
    if (const int result = PollCalls(received)) return result;
    Housekeeping(received.size());
    return 1;
}

// A direct indication: "+CMT: [alpha],<length>" or "+CDS: <length>", then the PDU line. An
// indication whose PDU has not fully arrived stays where it is for the next poll.
int CMobile::PollDirect(const std::string& text, size_t at, bool reports) {
    std::string indication = text.substr(at);
    if (!reports) ReplaceAll(indication, "+CMT: ,", "+CMT: ");
    if (ParseReply(indication, reports ? "+CDS:" : "+CMT:") != 1 || m_nFieldCount < 2) return 0;
    const int length = DecimalValue(m_fields[0]);
    const std::string pdu = m_fields[1];
    if (static_cast<int>(pdu.size() / 2) < length) return 0;

    (reports ? m_nReportPos : m_nMessagePos) = static_cast<int>(at) + 5;
    m_pdu.m_strPduIn = pdu;
    m_pdu.m_nStorageStatus = 0;
    m_pdu.m_nDecodeCodePage = 0;
    if (m_pdu.Decode() != PDU_OK || (m_pdu.m_nKind == KIND_STATUS_REPORT) != reports) return 0;
    if (reports) {
        m_statusReport = {m_pdu.m_nReference, m_pdu.m_bDelivered, m_pdu.m_strPhone, m_pdu.m_strTime};
        return POLL_STATUS_REPORT;
    }
    m_received = {0, m_pdu.m_nKind, m_pdu.m_strPhone, m_pdu.m_strText, m_pdu.m_strTime};
    return POLL_NEW_MESSAGE;
}

// A storage indication "+CMTI: <mem>,<index>" (or "+CDSI:"): the message is read from its
// storage, deleted when configured, and the previous read storage selected again.
int CMobile::PollStored(const std::string& text, size_t at, bool reports) {
    const char* prefix = reports ? "+CDSI:" : "+CMTI:";
    if (ParseReply(text.substr(at), prefix) != 1) return 0;
    theLog.WriteTimed(std::string(prefix) + " " + (m_nFieldCount > 0 ? m_fields[0] : "") + "," +
                      (m_nFieldCount > 1 ? m_fields[1] : "") + "\r\n");
    if (m_nFieldCount < 2) return 0;
    const std::string storage = m_fields[0];
    const int index = DecimalValue(m_fields[1]);

    bool switched = false;
    std::string previous;
    if (storage != m_strStorage) {
        previous = m_strStorage;
        switched = true;
        SelectStorage(storage);
    }
    (reports ? m_nReportPos : m_nMessagePos) = static_cast<int>(at) + 6;
    if (!reports) m_received.nReference = index;

    for (int delay : READ_RETRY_DELAYS_MS) {
        if (delay > 0) SlicedSleep(m_clock, delay, SLEEP_SLICE_MS);
        if (ReadMessage(index) != 1 || (m_pdu.m_nKind == KIND_STATUS_REPORT) != reports) continue;
        if (reports ? m_bDeleteReadReport : m_bDeleteReadMessage)
            Ask("AT+CMGD=" + std::to_string(index) + "\r", "", 5000);
        if (switched) SelectStorage(previous);
        if (reports) {
            m_statusReport = {m_pdu.m_nReference, m_pdu.m_bDelivered, m_pdu.m_strPhone, m_pdu.m_strTime};
            theLog.WriteTimed("NEW Status Report\r\n");
            return POLL_STATUS_REPORT;
        }
        m_received = {index, m_pdu.m_nKind, m_pdu.m_strPhone, m_pdu.m_strText, m_pdu.m_strTime};
        theLog.WriteTimed("NEW Message\r\n");
        return POLL_NEW_MESSAGE;
    }
    if (switched) SelectStorage(previous);
    return 0;  // left in the store for the store scan
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
    return 0;
}

// Drops the received text every scan has passed, and keeps the buffer from growing without
// bound when nothing is recognised.
void CMobile::Housekeeping(size_t receivedLength) {
    int* positions[] = {&m_nMessagePos, &m_nReportPos, &m_nCallPos};
    const int least = std::min({m_nMessagePos, m_nReportPos, m_nCallPos});
    if (least >= 0) {
        m_pConnection->Consume(least);
        for (int* p : positions) *p -= least;
    }
    if (receivedLength > RECEIVED_LIMIT) {
        const int cut = static_cast<int>(receivedLength - RECEIVED_KEEP);
        m_pConnection->Consume(cut);
        for (int* p : positions) *p -= cut;
    }
    for (int* p : positions) *p = std::max(*p, 0);
}
