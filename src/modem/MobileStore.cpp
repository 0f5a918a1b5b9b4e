#include "link/LogFile.h"
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

// Reads one place. The header tells an empty place (length 0, no PDU) from a message; where
// its length disagrees with the PDU line, the PDU is what gets decoded.
int CMobile::ReadMessage(int index) {
    if (index < 0) return -1;
    const std::string reply = Ask("AT+CMGR=" + std::to_string(index) + "\r", "OK", 5000);
    StoredRead read;
    if (!HasOk(reply) || ParseStoredRead(reply, index, read) != 1) return -1;
    if (read.strPdu.empty()) return read.nLength == 0 ? READ_EMPTY : -1;

    m_pdu.m_strPhone.clear();
    m_pdu.m_strText.clear();
    m_pdu.m_strTime.clear();
    m_pdu.m_nKind = 0;
    m_pdu.m_nReference = index;
    m_pdu.m_strPduIn = read.strPdu;
    m_pdu.m_nStorageStatus = read.nStatus;
    m_pdu.m_nDecodeCodePage = 0;
    int decoded = m_pdu.Decode();
    if (decoded != PDU_OK && read.nLength > 0 && read.strPdu.size() == 2 * static_cast<size_t>(read.nLength)) {
        // A length that counts every octet of the line: a modem that leaves out the
        // service-centre part. The PDU is read with an empty one.
        m_pdu.m_strPduIn = "00" + read.strPdu;
        if ((decoded = m_pdu.Decode()) != PDU_OK) {
            m_pdu.m_strPduIn = read.strPdu;  // kept as read, with the reason it was refused
            m_pdu.Decode();
        }
    }
    if (decoded != PDU_OK) {
        theLog.WriteTimed("Stored PDU at " + std::to_string(index) + " does not decode (" +
                          m_pdu.m_pszDecodeError + ")\r\n");
        return READ_UNDECODABLE;
    }
    if (m_pdu.m_nKind != KIND_STATUS_REPORT) m_pdu.m_nReference = index;
    return 1;
}

int CMobile::ListStoredIndexes(std::vector<int>& indexes) {
    indexes.clear();
    if (m_nListing < 0) return -1;
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    // A full store of long messages takes a while over a slow line.
    const std::string reply = Ask("AT+CMGL=4\r", "OK", 30000);
    if (FindFinalOk(reply) == std::string::npos) {
        if (reply.find("ERROR") != std::string::npos) {
            m_nListing = -1;
            theLog.WriteTimed("Message listing refused; stores are read place by place\r\n");
        }
        return -1;
    }
    m_nListing = 1;
    indexes = ParseListedIndexes(reply);
    return 1;
}

int CMobile::QueryStoreNames() {
    m_storeNames = ParseStoreNames(Ask("AT+CPMS=?\r", "OK", 2000));
    return m_storeNames.empty() ? -1 : 1;
}

int CMobile::ReadStoredMessage(int index) {
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    m_lastRead = LastRead{};
    int result = ReadMessage(index);
    if (result == READ_EMPTY) return -1;
    // A PDU with neither sender nor text would be an empty row: it is handed over as undecodable.
    if (result == 1 && m_pdu.m_strPhone.empty() && m_pdu.m_strText.empty()) result = READ_UNDECODABLE;
    if (result == READ_UNDECODABLE) {
        m_lastRead.nReference = index;
        m_lastRead.bDecoded = 0;
        m_lastRead.strPdu = m_pdu.m_strPduIn;
        return 1;
    }
    if (result == 1) {
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
    if (index < 0) return -1;
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    const std::string previous = m_strStorage;
    const bool switched = !storage.empty() && storage != previous;
    if (switched && SelectStorage(storage) != 1) return -1;
    const int result = HasOk(Ask("AT+CMGD=" + std::to_string(index) + "\r", "OK", 2000)) ? 1 : -1;
    if (switched) SelectStorage(previous);
    return result;
}
