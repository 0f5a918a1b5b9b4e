#pragma once
// The few infrared socket calls the IrCOMM transport makes, behind an interface so the
// transport's algorithm can be driven by a scripted fake. Results follow the socket API:
// 0 (or a count) for success, -1 for failure with the cause in LastError().
#include <cstdint>
#include <string>
#include <vector>

struct IasAttribute {
    int type = 0;        // IAS_OCTET_SEQUENCE for the IrCOMM parameters
    std::string octets;  // value of an octet-sequence attribute
};

class IIrSockets {
public:
    static constexpr int IAS_OCTET_SEQUENCE = 2;
    // LastError() values the transport reacts to: the socket was reset by the peer, or the
    // handle is no longer a socket.
    static constexpr int ERR_CONNECTION_RESET = 104;  // ECONNRESET
    static constexpr int ERR_NOT_A_SOCKET = 88;       // ENOTSOCK

    virtual ~IIrSockets() = default;
    virtual int Create() = 0;  // stream socket of the infrared family: handle > 0, or -1
    virtual int EnumerateDevices(int socket, std::vector<uint32_t>& deviceIds) = 0;
    virtual int QueryIas(int socket, uint32_t deviceId, const std::string& className,
                         const std::string& attribute, IasAttribute& value) = 0;
    virtual int SetNineWireMode(int socket) = 0;
    virtual int Connect(int socket, uint32_t deviceId, const std::string& serviceName) = 0;
    virtual int Close(int socket) = 0;
    virtual int SendProbe(int socket) = 0;  // a send of zero bytes
    virtual int BytesWaiting(int socket) = 0;
    virtual int Receive(int socket, char* buffer, int size) = 0;
    virtual int Send(int socket, const std::string& data) = 0;
    virtual int LastError() = 0;
};

// The Linux AF_IRDA socket layer. Kernels since 4.17 have no IrDA stack: Create() then
// fails with EAFNOSUPPORT and the transport reports the link as not opened.
class CLinuxIrSockets : public IIrSockets {
public:
    int Create() override;
    int EnumerateDevices(int socket, std::vector<uint32_t>& deviceIds) override;
    int QueryIas(int socket, uint32_t deviceId, const std::string& className,
                 const std::string& attribute, IasAttribute& value) override;
    int SetNineWireMode(int socket) override;
    int Connect(int socket, uint32_t deviceId, const std::string& serviceName) override;
    int Close(int socket) override;
    int SendProbe(int socket) override;
    int BytesWaiting(int socket) override;
    int Receive(int socket, char* buffer, int size) override;
    int Send(int socket, const std::string& data) override;
    int LastError() override { return m_nLastError; }

private:
    int Result(int rc);
    int m_nLastError = 0;
};
