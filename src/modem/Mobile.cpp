#include "modem/Mobile.h"

#include "link/LogFile.h"
#include "modem/DeviceQuirks.h"

#include <algorithm>

namespace {

constexpr int BUSY_WAIT_SLICES = 20;
constexpr int BUSY_WAIT_SLICE_MS = 50;
constexpr int UTF8_CODE_PAGE = 65001;  // the code page number of the locale's UTF-8 text

bool HasOk(const std::string& reply) { return reply.find("OK") != std::string::npos; }

}  // namespace

CMobile::CMobile(std::unique_ptr<CConnection> connection, IClock& clock)
    : m_pConnection(connection ? std::move(connection) : std::make_unique<CConnection>()),
      m_clock(clock) {}

CMobile::~CMobile() = default;

std::string CMobile::Ask(const std::string& command, const std::string& extra, int timeoutMs) {
    return m_pConnection->Exchange(command, extra, timeoutMs);
}

int CMobile::WaitNotBusy() {
    if (s_bWaiting) return 1;
    s_bWaiting = 1;
    for (int i = 0; i < BUSY_WAIT_SLICES && m_bBusy && !m_clock.StopRequested(); ++i) {
        m_clock.PumpMessages();
        m_clock.SleepMs(BUSY_WAIT_SLICE_MS);
    }
    s_bWaiting = 0;
    return m_bBusy;
}

std::string CMobile::SendCommand(const std::string& command, const std::string& extra,
                                 int timeoutMs) {
    if (WaitNotBusy()) return std::string();
    BusyScope busy(*this);
    return Ask(command + "\r", extra, timeoutMs);
}

int CMobile::ParseReply(const std::string& reply, const std::string& prefix) {
    return SplitReply(reply, prefix, m_fields, m_nFieldCount);
}

void CMobile::PumpPaintMessages() { m_clock.PumpMessages(); }

int CMobile::ParseRangeGroups(std::vector<std::string>& groups, const std::string& text,
                              int maxCount) {
    return SplitRangeGroups(groups, text, maxCount);
}

// --- Connection -------------------------------------------------------------------------

int CMobile::Connect() {
    theLog.Printf("CMobile::Connect()\r");
    theLog.Write("CodePage=" + std::to_string(UTF8_CODE_PAGE) + "\r");
    if (WaitNotBusy()) return -1;
    m_pConnection->ConnectionMode = m_nConnectionMode;
    m_pConnection->ComNumber = m_nPort;
    m_pConnection->ComBaudrate = m_nBaudRate;
    m_nSimState = SIM_READY;
    BusyScope busy(*this);
    if (m_pConnection->Connect() != 1) return -1;
    RestartScan();
    if (m_nConnectionMode == 1) m_pConnection->SetLines(m_nLines);
    if (Initialize() == 1) {
        theLog.Printf("CMobile::Connect()=1\r");
        return 1;
    }
    m_pConnection->Disconnect();
    return -1;
}

int CMobile::Disconnect() {
    theLog.Printf("CMobile::Disconnect()\r");
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    if (m_pConnection->Disconnect() != 1) return -1;
    RestartScan();
    theLog.Printf("CMobile::Disconnect()=1\r");
    return 1;
}

// --- Identity ---------------------------------------------------------------------------

std::string CMobile::QueryIdentity(const char* first, const char* second) {
    for (const char* command : {first, second}) {
        const std::string reply = Ask(command, "", 2000);
        if (HasOk(reply) && ParseReply(reply, "") == 1 && m_nFieldCount >= 1)
            return quirks::IdentityValue(m_fields, m_nFieldCount);
    }
    return std::string();
}

std::string CMobile::QueryImei() { return QueryIdentity("AT+CGSN\r", "AT+GSN\r"); }
std::string CMobile::QueryManufacturer() { return QueryIdentity("AT+CGMI\r", "AT+GMI\r"); }
std::string CMobile::QueryModel() { return QueryIdentity("AT+CGMM\r", "AT+GMM\r"); }

std::string CMobile::GetImei() {
    if (WaitNotBusy()) return std::string();
    BusyScope busy(*this);
    return QueryImei();
}

// A device that names no maker keeps the name the initialisation gave it.
std::string CMobile::GetManufacturer() {
    if (WaitNotBusy()) return std::string();
    BusyScope busy(*this);
    const std::string maker = QueryManufacturer();
    return maker.empty() ? m_strManufacturer : maker;
}

std::string CMobile::GetModel() {
    if (WaitNotBusy()) return std::string();
    BusyScope busy(*this);
    return QueryModel();
}

// --- Character set and storage ----------------------------------------------------------

int CMobile::SetCharacterSet(const std::string& charset) {
    if (charset.empty()) return -1;
    return HasOk(Ask("AT+CSCS=\"" + charset + "\"\r", "", 5000)) ? 1 : -1;
}

int CMobile::SelectStorage(const std::string& storage) {
    if (storage.empty()) return -1;
    if (!HasOk(Ask("AT+CPMS=\"" + storage + "\"\r", "", 2000))) return -1;
    m_strStorage = storage;
    return 1;
}

int CMobile::SetStorage(const std::string& storage) {
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    return SelectStorage(storage);
}

std::string CMobile::GetReadMemory() { return StorageFrom(Ask("AT+CPMS?\r", "OK", 2000)); }

// --- Network registration ---------------------------------------------------------------

bool IsRegisteredStat(int stat) {
    // 1 home, 5 roaming, 6 and 7 the same for SMS only, 9 and 10 the same with CSFB not preferred.
    return stat == 1 || stat == 5 || stat == 6 || stat == 7 || stat == 9 || stat == 10;
}

int CMobile::GetRegistration() {
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    int stat = -1;
    for (const std::string name : {"+CREG", "+CEREG"}) {
        const std::string reply = Ask("AT" + name + "?\r", "", 2000);
        if (!HasOk(reply) || ParseReply(reply, name + ":") != 1 || m_nFieldCount < 2) continue;
        bool found = false;
        const int value = DecimalValue(m_fields[1], &found);
        if (!found) continue;
        if (IsRegisteredStat(value)) return value;
        if (stat < 0) stat = value;
    }
    return stat;
}

// --- Battery, signal, service centre ----------------------------------------------------

int CMobile::GetBatteryLevel() {
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    const std::string reply = Ask("AT+CBC\r", "", 2000);
    if (!HasOk(reply) || ParseReply(reply, "+CBC:") != 1 || m_nFieldCount < 2) return -1;
    const int status = DecimalValue(m_fields[0]);
    const int charge = DecimalValue(m_fields[1]);
    switch (status) {
    case 0: return charge == 0 ? 102 : charge;  // powered by the battery
    case 1: return 101;                         // battery connected, external power
    case 2: return 102;                         // no battery
    default: return -1;                         // power fault and unknown states
    }
}

int CMobile::GetSignalQuality() {
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    const std::string reply = Ask("AT+CSQ\r", "", 2000);
    if (!HasOk(reply) || ParseReply(reply, "+CSQ:") != 1 || m_nFieldCount < 1) return -1;
    const int rssi = DecimalValue(m_fields[0]);
    return rssi >= 0 && rssi <= 99 ? rssi : -1;
}

int CMobile::SetServiceCentre(const std::string& number) {
    if (number.empty()) return -1;
    if (WaitNotBusy()) return -1;
    BusyScope busy(*this);
    std::string address = number;
    address.erase(std::remove(address.begin(), address.end(), ' '), address.end());
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (HasOk(Ask("AT+CSCA=\"" + address + "\"\r", "", 2000))) return 1;
        address = EncodeForCharset(address);  // the second attempt in the TE character set
    }
    return -1;
}

std::string CMobile::EncodeForCharset(const std::string& text) {
    if (text.empty()) return text;
    if (quirks::WantsPrefixedUcs2(m_strManufacturer)) {
        if (m_pdu.ClassifyText(text) == ALPHABET_UCS2) return "80" + m_pdu.TextToUcs2Hex(text);
        return text;
    }
    if (m_strCharset == "UCS2" || m_strCharset == "HEX") return m_pdu.TextToUcs2Hex(text);
    if (m_strCharset == "GSM") return m_pdu.PackSeptets(text);
    return text;
}
