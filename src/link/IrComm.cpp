#include "link/IrComm.h"

#include "link/LogFile.h"

#include <algorithm>
#include <vector>

namespace {

constexpr unsigned char PARAM_SERVICE_TYPE = 0x00;
constexpr unsigned char SERVICE_NINE_WIRE = 0x04;
constexpr size_t MIN_PARAMETERS = 3;
constexpr int UNTIL_SLICE_MS = 20;

}  // namespace

CIrComm::CIrComm(IClock& clock, std::unique_ptr<IIrSockets> sockets)
    : CTransport(clock),
      m_sockets(sockets ? std::move(sockets) : std::make_unique<CLinuxIrSockets>()) {}

CIrComm::~CIrComm() { Close(); }

bool CIrComm::OffersNineWire(const std::string& parameters) {
    // Each parameter: identifier, length, that many value octets.
    size_t at = 0;
    while (at + 2 <= parameters.size()) {
        const auto id = static_cast<unsigned char>(parameters[at]);
        const auto length = static_cast<unsigned char>(parameters[at + 1]);
        const size_t value = at + 2;
        if (id == PARAM_SERVICE_TYPE && length > 0 && value < parameters.size() &&
            (static_cast<unsigned char>(parameters[value]) & SERVICE_NINE_WIRE))
            return true;
        at = value + length;
    }
    return false;
}

int CIrComm::FailOpen(int socket) {
    m_sockets->Close(socket);
    m_bOpen = 0;
    m_socket = 0;
    return -1;
}

int CIrComm::Open() {
    if (m_bOpen) {
        // Marked open: only a dead socket (reset, or already closed) is replaced.
        const int error = m_sockets->LastError();
        if (error != IIrSockets::ERR_CONNECTION_RESET && error != IIrSockets::ERR_NOT_A_SOCKET)
            return -1;
    }
    const int socket = m_sockets->Create();
    if (socket < 0) return -1;

    std::vector<uint32_t> devices;
    if (m_sockets->EnumerateDevices(socket, devices) != 0 || devices.empty()) return FailOpen(socket);
    const uint32_t device = devices.front();

    IasAttribute parameters;
    if (m_sockets->QueryIas(socket, device, SERVICE_NAME, IAS_ATTRIBUTE, parameters) != 0 ||
        parameters.type != IIrSockets::IAS_OCTET_SEQUENCE || parameters.octets.size() < MIN_PARAMETERS ||
        !OffersNineWire(parameters.octets))
        return FailOpen(socket);
    if (m_sockets->SetNineWireMode(socket) != 0) return FailOpen(socket);
    if (m_sockets->Connect(socket, device, SERVICE_NAME) != 0) return FailOpen(socket);

    m_socket = socket;
    m_bOpen = 1;
    return 1;
}

int CIrComm::Close() {
    if (m_bOpen) {
        if (m_sockets->Close(m_socket) != 0) return -1;
        m_bOpen = 0;
        m_socket = 0;
        m_strReceived.clear();
        return 1;
    }
    m_socket = 0;
    return 1;
}

int CIrComm::IsOpen() {
    if (!m_bOpen) return 0;
    if (m_sockets->SendProbe(m_socket) == 0) return 1;
    if (m_sockets->Close(m_socket) != 0) return 0;
    m_bOpen = 0;
    if (Open() == 1) return 1;
    // Marked open with no usable socket: the next Open sees the dead handle and rebuilds.
    m_bOpen = 1;
    return 0;
}

std::string CIrComm::Read() {
    if (!IsOpen()) return std::string();
    if (m_sockets->BytesWaiting(m_socket) <= 0) return std::string();
    std::vector<char> buffer(1024);
    const int got = m_sockets->Receive(m_socket, buffer.data(), static_cast<int>(buffer.size()));
    if (got <= 0) return std::string();
    std::string chunk(buffer.data(), static_cast<size_t>(got));
    chunk.resize(std::min(chunk.size(), chunk.find('\0')));
    if (chunk.empty()) return chunk;
    m_strReceived += chunk;
    LogReceived(chunk, false);
    return chunk;
}

int CIrComm::Write(const std::string& text) {
    if (!IsOpen()) return -1;
    const int sent = m_sockets->Send(m_socket, text);
    if (sent <= 0) return -1;
    theLog.Write(text);
    return sent;
}

std::string CIrComm::ReadUntil(const std::string& t1, const std::string& t2,
                               const std::string& t3, int timeoutMs) {
    if (!IsOpen()) return std::string();
    const long long deadline = m_clock.NowMs() + timeoutMs;
    std::string collected;
    while (m_clock.NowMs() < deadline && !m_clock.StopRequested()) {
        const std::string chunk = Read();
        if (chunk.empty()) continue;  // polls again at once
        collected += chunk;
        if (HasTerminator(collected, t1, t2, t3)) break;
        m_clock.SleepMs(UNTIL_SLICE_MS);
    }
    return collected;
}

std::string CIrComm::Exchange(const std::string& command, const std::string& extra,
                              int timeoutMs) {
    if (!IsOpen()) return std::string();
    std::string reply = ExchangeSteps(command, extra, timeoutMs);
    // Some phones end an IrCOMM reply with a blank line instead of the final result.
    if (reply.find("\r\r") != std::string::npos && reply.find("OK") == std::string::npos)
        reply += "OK";
    return reply;
}
