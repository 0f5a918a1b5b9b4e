#include "modem/Mobile.h"

#include <algorithm>
#include <cctype>

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

bool CMobile::HoldsLength(const std::string& pdu, int length) {
    if (pdu.size() < 2 || pdu.size() % 2 != 0 || length <= 0) return false;
    if (!std::all_of(pdu.begin(), pdu.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return false;
    const int octets = static_cast<int>(pdu.size() / 2);
    const int serviceCentre = std::stoi(pdu.substr(0, 2), nullptr, 16);
    return octets - 1 - serviceCentre >= length;
}

// 1 read and decoded (or an empty place of length 0), READ_UNDECODABLE when the place holds
// a PDU shorter than its length or one the codec refuses, -1 when nothing could be read.
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
    if (length == 0) return 1;  // an empty place: the fields stay empty
    if (!HoldsLength(m_pdu.m_strPduIn, length) || m_pdu.Decode() != PDU_OK) return READ_UNDECODABLE;
    if (m_pdu.m_nKind != KIND_STATUS_REPORT) m_pdu.m_nReference = index;
    return 1;
}

int CMobile::ReadStoredMessage(int index) {
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    m_lastRead = LastRead{};
    int result = ReadMessage(index);
    if (result == READ_UNDECODABLE) {
        m_lastRead.nReference = index;
        m_lastRead.bDecoded = 0;
        m_lastRead.strPdu = m_pdu.m_strPduIn;
        return 1;
    }
    if (result == 1 && m_pdu.m_strPhone.empty()) {
        result = -1;  // an empty place
    } else if (result == 1) {
        m_lastRead.nReference = m_pdu.m_nReference;
        m_lastRead.strPhone = m_pdu.m_strPhone;
        m_lastRead.strText = m_pdu.m_strText;
        m_lastRead.strTime = m_pdu.m_strTime;
        m_lastRead.nStorageStatus = m_pdu.m_nStorageStatus;
        m_lastRead.nKind = m_pdu.m_nKind;
        m_lastRead.strPdu = m_pdu.m_strPduIn;
    }
    return result;
}

int CMobile::DeleteMessage(int index) { return DeleteStoredMessage(std::string(), index); }

int CMobile::DeleteStoredMessage(const std::string& storage, int index) {
    if (index <= 0) return -1;
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    const std::string previous = m_strStorage;
    const bool switched = !storage.empty() && storage != previous;
    if (switched && SelectStorage(storage) != 1) return -1;
    const int result = HasOk(Ask("AT+CMGD=" + std::to_string(index) + "\r", "OK", 2000)) ? 1 : -1;
    if (switched) SelectStorage(previous);
    return result;
}
