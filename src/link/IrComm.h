#pragma once
// Infrared transport: the modem's serial stream over an IrCOMM (9-wire) socket to the first
// infrared device in range.
#include "link/IrSockets.h"
#include "link/Transport.h"

#include <memory>

class CIrComm : public CTransport {
public:
    // sockets: the socket layer to use; null = the system's.
    explicit CIrComm(IClock& clock = SystemClock(), std::unique_ptr<IIrSockets> sockets = nullptr);
    ~CIrComm() override;

    int Open() override;
    int Close() override;
    int IsOpen() override;  // probes the socket, reconnects once
    std::string Read() override;
    int Write(const std::string& text) override;
    std::string ReadUntil(const std::string& t1, const std::string& t2, const std::string& t3,
                          int timeoutMs) override;
    std::string Exchange(const std::string& command, const std::string& extra,
                         int timeoutMs) override;

    int IsMarkedOpen() const { return m_bOpen; }

    static constexpr const char* SERVICE_NAME = "IrDA:IrCOMM";
    static constexpr const char* IAS_ATTRIBUTE = "Parameters";
    // True when the IrCOMM parameter list offers the 9-wire service type.
    static bool OffersNineWire(const std::string& parameters);

private:
    int FailOpen(int socket);

    std::unique_ptr<IIrSockets> m_sockets;
    int m_bOpen = 0;
    int m_socket = 0;
};
