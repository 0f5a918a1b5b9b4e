#include "engine/Adapters.h"

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

ModemMessage CMobilePort::Received() const {
    const auto& r = m_mobile.m_received;
    return {r.strPhone, r.strText, r.strTime, r.nKind, r.nReference, r.strStorage, r.bDecoded != 0, r.strPdu};
}

std::vector<StoreUse> CMobilePort::GetStoreUse() {
    std::vector<StoreUse> stores;
    for (const auto& s : m_mobile.GetStoreUse()) stores.push_back({s.strName, s.nUsed, s.nTotal});
    return stores;
}

ModemMessage CMobilePort::LastRead() const {
    const auto& r = m_mobile.m_lastRead;
    return {r.strPhone, r.strText, r.strTime, r.nKind, r.nReference, m_mobile.m_strStorage, r.bDecoded != 0, r.strPdu};
}

void CMobilePort::SetRetry(int intervalSeconds, int attempts) {
    m_mobile.SetRetryInterval(intervalSeconds);
    m_mobile.SetSendAttempts(attempts);
}
