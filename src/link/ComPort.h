#pragma once
// Serial transport over a termios tty. Port n is the entry "COMn" in the device folder
// (normally the executable's folder) when it exists, a symlink to a tty or a pty, else
// /dev/ttyS(n-1). Raw 8N1, no flow control, DTR and RTS raised.
#include "link/Transport.h"

#include <array>
#include <string>

class CComPort : public CTransport {
public:
    explicit CComPort(IClock& clock = SystemClock());
    // deviceFolder: where the COMn entries are looked up; empty = DefaultDeviceFolder().
    CComPort(IClock& clock, std::string deviceFolder);
    ~CComPort() override;

    int Open() override;
    int Close() override;
    int IsOpen() override { return m_fd >= 0 ? 1 : 0; }
    bool HungUp() override;
    std::string Read() override;
    int Write(const std::string& text) override;
    std::string ReadUntil(const std::string& t1, const std::string& t2, const std::string& t3,
                          int timeoutMs) override;
    std::string Exchange(const std::string& command, const std::string& extra,
                         int timeoutMs) override;
    int SetLines(int flags) override;
    void Configure(int port, int baud) override;
    int Descriptor() const override { return m_fd; }

    int GetPort() const { return m_nPort; }
    int GetBaud() const { return m_nBaud; }
    // The device a port number opens, looked up in folder.
    static std::string DeviceName(int port, const std::string& folder);
    // Where ports without a folder of their own look for COMn: the folder set here (the
    // gateway's state folder), else the executable's folder.
    static void SetDefaultDeviceFolder(const std::string& folder);
    static std::string DefaultDeviceFolder();

    static constexpr int MAX_CHUNK = 1024;

private:
    enum Timeout { READ_INTERVAL, READ_PER_BYTE, READ_CONSTANT, WRITE_PER_BYTE, WRITE_CONSTANT };
    bool LineErrorPending();
    // Closes fd (when open), reports the device, the step and the error; -1.
    int OpenFailed(const std::string& device, const char* step, int error, int fd);
    bool WaitReady(short events, long long limitMs);

    int m_fd = -1;
    int m_nPort = 0;
    int m_nBaud = 9600;
    std::array<unsigned, 5> m_timeouts{1000, 50, 2000, 50, 2000};
    std::string m_strDeviceFolder;
    long long m_nLineErrors = -1;
    std::string m_strOpenError;  // the open failure last reported  // error counters of the line at the last check
};
