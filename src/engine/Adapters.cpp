#include "engine/Adapters.h"

#include <cstdlib>

void CMobilePort::Prepare(const DeviceLinkSettings& link) {
    m_mobile.m_strPin = link.pin;
    m_mobile.m_bReportRequest = link.statusReport;
    m_mobile.m_bDeleteReadReport = link.deleteStatusReports;
    m_mobile.m_nConnectionMode = link.mode;
    if (link.mode != 0) {
        m_mobile.m_nPort = link.comNumber;
        m_mobile.m_nBaudRate = link.baudRate;
    }
}

// The slots are filled from the driver's record of the PDU it decoded last, which still
// holds the message's concatenation header.
ModemMessage CMobilePort::Received() const {
    const auto& r = m_mobile.m_received;
    const CSmsPdu& pdu = m_mobile.m_pdu;
    return {r.strPhone,        r.strText,           r.strTime,         r.nKind,         r.nReference,
            r.strStorage,      r.bDecoded != 0,     r.strPdu,          pdu.m_nConcatRef, pdu.m_nConcatTotal,
            pdu.m_nConcatSeq, r.bInStore != 0};
}

std::vector<StoreUse> CMobilePort::GetStoreUse() {
    std::vector<StoreUse> stores;
    for (const auto& s : m_mobile.GetStoreUse()) stores.push_back({s.strName, s.nUsed, s.nTotal});
    return stores;
}

ModemMessage CMobilePort::LastRead() const {
    const auto& r = m_mobile.m_lastRead;
    const CSmsPdu& pdu = m_mobile.m_pdu;
    return {r.strPhone,        r.strText,           r.strTime,         r.nKind,         r.nReference,
            m_mobile.m_strStorage, r.bDecoded != 0, r.strPdu,          pdu.m_nConcatRef, pdu.m_nConcatTotal,
            pdu.m_nConcatSeq, true};
}

ModemReport CMobilePort::Report() const {
    // User data of a status report: SCTS (7 octets), discharge time (7), TP-ST (1).
    const CSmsPdu& pdu = m_mobile.m_pdu;
    const std::string& data = pdu.m_strUserData;
    const auto& slot = m_mobile.m_statusReport;
    ModemReport report{pdu.m_nReference, pdu.m_strPhone, "", -1, slot.nIndex, slot.strStorage, slot.bInStore != 0};
    if (data.size() >= 30) {
        report.discharge = pdu.SwapSemiOctets(data.substr(14, 12));
        report.status = static_cast<int>(std::strtol(data.substr(28, 2).c_str(), nullptr, 16));
    }
    return report;
}

void CMobilePort::SetRetry(int intervalSeconds, int attempts) {
    m_mobile.SetRetryInterval(intervalSeconds);
    m_mobile.SetSendAttempts(attempts);
}
