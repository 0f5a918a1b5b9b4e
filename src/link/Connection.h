#pragma once
// The device link: one serial and one infrared transport, every operation forwarded to the
// one ConnectionMode selects (0 infrared, any other value serial).
#include "link/Transport.h"

#include <memory>
#include <string>

class CConnection {
public:
    // The system's serial port and infrared socket layer.
    CConnection();
    // Transports supplied by the caller (tests, a serial port looked up in another folder).
    CConnection(std::unique_ptr<CTransport> serial, std::unique_ptr<CTransport> infrared);

    int ConnectionMode = 0;
    int ComNumber = 0;
    int ComBaudrate = 0;

    int Connect();     // 1 open, -1 failed
    int Disconnect();  // 1 closed (or was not open), -1 failed
    int IsOpen();
    std::string Read();
    std::string Exchange(const std::string& command, const std::string& extra, int timeoutMs);
    std::string ExchangeUntil(const std::string& command, const std::vector<std::string>& ends, int timeoutMs) {
        return Selected().ExchangeUntil(command, ends, timeoutMs);
    }
    bool HungUp() { return Selected().HungUp(); }
    std::string GetReceived();
    void Consume(int count);
    int SetLines(int flags);  // serial transport only
    int Descriptor() { return Selected().Descriptor(); }  // -1: nothing to wait on

    CTransport& Serial() { return *m_serial; }
    CTransport& Infrared() { return *m_infrared; }

private:
    CTransport& Selected() { return ConnectionMode ? *m_serial : *m_infrared; }

    std::unique_ptr<CTransport> m_serial;
    std::unique_ptr<CTransport> m_infrared;
};
