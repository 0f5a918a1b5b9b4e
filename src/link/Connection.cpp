#include "link/Connection.h"

#include "link/ComPort.h"
#include "link/IrComm.h"
#include "link/LogFile.h"

CConnection::CConnection()
    : CConnection(std::make_unique<CComPort>(), std::make_unique<CIrComm>()) {}

CConnection::CConnection(std::unique_ptr<CTransport> serial, std::unique_ptr<CTransport> infrared)
    : m_serial(std::move(serial)), m_infrared(std::move(infrared)) {}

int CConnection::Connect() {
    theLog.Printf("CConnection::Connect()\r");
    theLog.Printf("ConnectionMode=%d\r", ConnectionMode);
    theLog.Printf("ComNumber=%d\r", ComNumber);
    theLog.Printf("ComBaudrate=%d\r", ComBaudrate);
    int result;
    if (ConnectionMode) {
        m_serial->Configure(ComNumber, ComBaudrate);
        result = m_serial->Open();
    } else {
        result = m_infrared->Open();
    }
    result = result == 1 ? 1 : -1;
    theLog.Printf("CConnection::Connect()=%d\r", result);
    return result;
}

int CConnection::Disconnect() {
    theLog.Printf("CConnection::Disconnect()\r");
    const int result = Selected().Close() == 1 ? 1 : -1;
    theLog.Printf("CConnection::Disconnect()=%d\r", result);
    return result;
}

int CConnection::IsOpen() { return Selected().IsOpen(); }

std::string CConnection::Read() { return Selected().Read(); }

std::string CConnection::Exchange(const std::string& command, const std::string& extra,
                                  int timeoutMs) {
    return Selected().Exchange(command, extra, timeoutMs);
}

std::string CConnection::GetReceived() { return Selected().m_strReceived; }

void CConnection::Consume(int count) { Selected().Consume(count); }

int CConnection::SetLines(int flags) { return m_serial->SetLines(flags); }
