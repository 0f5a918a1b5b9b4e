#include "link/IrSockets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// The kernel's IrDA socket ABI (the uapi header left the kernel with the stack).
namespace {

constexpr int AF_INFRARED = 23;
constexpr int SOL_IRLMP_LEVEL = 266;
constexpr int IRLMP_ENUMDEVICES_OPT = 1;
constexpr int IRLMP_IAS_QUERY_OPT = 3;
constexpr int MAX_DISCOVERED = 8;

struct IrdaDeviceInfo {
    uint32_t saddr;
    uint32_t daddr;
    char info[22];
    uint8_t charset;
    uint8_t hints[2];
};

struct IrdaDeviceList {
    uint32_t len;
    IrdaDeviceInfo dev[MAX_DISCOVERED];
};

struct IrdaIasSet {
    char className[64];
    char attributeName[256];
    unsigned int attributeType;
    union {
        unsigned int integer;
        struct {
            unsigned short len;
            uint8_t octets[1024];
        } sequence;
        struct {
            uint8_t len;
            uint8_t charset;
            uint8_t text[256];
        } string;
    } attribute;
    unsigned int daddr;
};

struct SockaddrIrda {
    sa_family_t family;
    uint8_t lsapSel;
    uint32_t addr;
    char name[25];
};

}  // namespace

int CLinuxIrSockets::Result(int rc) {
    m_nLastError = rc < 0 ? (errno == EBADF ? ERR_NOT_A_SOCKET : errno) : 0;
    return rc;
}

int CLinuxIrSockets::Create() { return Result(::socket(AF_INFRARED, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

int CLinuxIrSockets::EnumerateDevices(int socket, std::vector<uint32_t>& deviceIds) {
    IrdaDeviceList list{};
    socklen_t size = sizeof list;
    if (Result(::getsockopt(socket, SOL_IRLMP_LEVEL, IRLMP_ENUMDEVICES_OPT, &list, &size)) < 0)
        return -1;
    deviceIds.clear();
    const uint32_t count = std::min<uint32_t>(list.len, MAX_DISCOVERED);
    for (uint32_t i = 0; i < count; ++i) deviceIds.push_back(list.dev[i].daddr);
    return 0;
}

int CLinuxIrSockets::QueryIas(int socket, uint32_t deviceId, const std::string& className,
                              const std::string& attribute, IasAttribute& value) {
    IrdaIasSet query{};
    std::strncpy(query.className, className.c_str(), sizeof query.className - 1);
    std::strncpy(query.attributeName, attribute.c_str(), sizeof query.attributeName - 1);
    query.daddr = deviceId;
    socklen_t size = sizeof query;
    if (Result(::getsockopt(socket, SOL_IRLMP_LEVEL, IRLMP_IAS_QUERY_OPT, &query, &size)) < 0)
        return -1;
    value.type = static_cast<int>(query.attributeType);
    value.octets.clear();
    if (value.type == IAS_OCTET_SEQUENCE) {
        const size_t len = std::min<size_t>(query.attribute.sequence.len, sizeof query.attribute.sequence.octets);
        value.octets.assign(reinterpret_cast<const char*>(query.attribute.sequence.octets), len);
    }
    return 0;
}

int CLinuxIrSockets::SetNineWireMode(int) {
    // The Linux stack has no socket option for it: the 9-wire control channel travels
    // inside the IrTTP connection, so there is nothing to switch.
    return 0;
}

int CLinuxIrSockets::Connect(int socket, uint32_t deviceId, const std::string& serviceName) {
    SockaddrIrda address{};
    address.family = AF_INFRARED;
    address.addr = deviceId;
    std::strncpy(address.name, serviceName.c_str(), sizeof address.name - 1);
    return Result(::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int CLinuxIrSockets::Close(int socket) { return Result(::close(socket)); }

int CLinuxIrSockets::SendProbe(int socket) {
    return Result(static_cast<int>(::send(socket, "", 0, MSG_NOSIGNAL)));
}

int CLinuxIrSockets::BytesWaiting(int socket) {
    int waiting = 0;
    if (Result(::ioctl(socket, FIONREAD, &waiting)) < 0) return -1;
    return waiting;
}

int CLinuxIrSockets::Receive(int socket, char* buffer, int size) {
    return Result(static_cast<int>(::recv(socket, buffer, static_cast<size_t>(size), 0)));
}

int CLinuxIrSockets::Send(int socket, const std::string& data) {
    return Result(static_cast<int>(::send(socket, data.data(), data.size(), MSG_NOSIGNAL)));
}
