#include "modem/Mobile.h"

namespace {
bool HasOk(const std::string& reply) { return reply.find("OK") != std::string::npos; }
}  // namespace

// Reads the current read storage, then the field offset places after its name in a second
// AT+CPMS? answer (1: used, 2: total).
int CMobile::StoreCount(int offset) {
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    const std::string storage = GetReadMemory();
    const std::string reply = Ask("AT+CPMS?\r", "OK", 2000);
    if (HasOk(reply) && ParseReply(reply, "+CPMS:") == 1) {
        for (int i = 0; i + offset < m_nFieldCount; ++i) {
            if (m_fields[static_cast<size_t>(i)] == storage)
                return DecimalValue(m_fields[static_cast<size_t>(i + offset)]);
        }
    }
    return -1;
}

int CMobile::GetUsedCount() { return StoreCount(1); }

std::vector<CMobile::StoreUse> CMobile::GetStoreUse() {
    std::vector<StoreUse> stores;
    if (WaitNotBusy()) return stores;
    BusyScope busy(*this);
    const std::string reply = Ask("AT+CPMS?\r", "OK", 2000);
    if (!HasOk(reply) || ParseReply(reply, "+CPMS:") != 1) return stores;
    for (int i = 0; i + 2 < m_nFieldCount; i += 3) {
        const auto at = static_cast<size_t>(i);
        stores.push_back({m_fields[at], DecimalValue(m_fields[at + 1]), DecimalValue(m_fields[at + 2])});
    }
    return stores;
}

int CMobile::GetTotalCount() { return StoreCount(2); }

int CMobile::ReadMessage(int index) {
    if (index <= 0) return -1;
    const std::string reply = Ask("AT+CMGR=" + std::to_string(index) + "\r", "OK", 5000);
    if (!HasOk(reply) || ParseReply(reply, "+CMGR:") != 1 || m_nFieldCount < 3) return -1;
    // status, alpha, length, PDU; an empty place has length 0 and may lack the PDU line.
    const int length = DecimalValue(m_fields[2]);
    if (m_nFieldCount < 4 && length != 0) return -1;

    m_pdu.m_strPhone.clear();
    m_pdu.m_strText.clear();
    m_pdu.m_strTime.clear();
    m_pdu.m_nKind = 0;
    m_pdu.m_nReference = index;
    m_pdu.m_strPduIn = m_nFieldCount >= 4 ? m_fields[3] : std::string();
    m_pdu.m_nStorageStatus = DecimalValue(m_fields[0]);
    m_pdu.m_nDecodeCodePage = 0;
    if (m_pdu.Decode() == PDU_OK) {
        if (m_pdu.m_nKind != KIND_STATUS_REPORT) m_pdu.m_nReference = index;
        return 1;
    }
    if (length == 0) {
        m_pdu.m_strPhone.clear();
        m_pdu.m_strText.clear();
        m_pdu.m_strTime.clear();
        return 1;
    }
    return -1;
}

int CMobile::ReadStoredMessage(int index) {
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    m_lastRead = LastRead{};
    int result = ReadMessage(index);
    if (result == 1 && m_pdu.m_strPhone.empty()) {
        result = -1;  // an empty place
    } else if (result == 1) {
        m_lastRead.nReference = m_pdu.m_nReference;
        m_lastRead.strPhone = m_pdu.m_strPhone;
        m_lastRead.strText = m_pdu.m_strText;
        m_lastRead.strTime = m_pdu.m_strTime;
        m_lastRead.nStorageStatus = m_pdu.m_nStorageStatus;
        m_lastRead.nKind = m_pdu.m_nKind;
    }
    return result;
}

int CMobile::DeleteMessage(int index) {
    if (index <= 0) return -1;
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    return HasOk(Ask("AT+CMGD=" + std::to_string(index) + "\r", "OK", 2000)) ? 1 : -1;
}
