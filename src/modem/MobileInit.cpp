#include "link/LogFile.h"
#include "modem/DeviceQuirks.h"
#include "modem/Mobile.h"

namespace {

constexpr int WAKE_ATTEMPTS = 6;
constexpr int SIM_WAIT_ATTEMPTS = 10;
constexpr int SIM_WAIT_PAUSE_MS = 1000;
constexpr int SLEEP_SLICE_MS = 50;
constexpr int LINES_RAISED = 3, LINES_DROPPED = 0;

bool HasOk(const std::string& reply) { return reply.find("OK") != std::string::npos; }

// Value per AT+CNMI parameter: the first of the preferred digits found in its group, or the
// fallback. Order: mode, mt, bm, ds, bfr.
struct CnmiPreference {
    const char* digits;
    char fallback;
};
constexpr CnmiPreference CNMI_PREFERENCES[] = {
    {"231", '0'},  // mode: buffer indications in the TA when the link is busy
    {"312", '0'},  // mt: deliver new messages directly, else announce stored ones
    {"012", '3'},  // bm: no cell broadcasts
    {"123", '0'},  // ds: status reports delivered directly
    {"012", '3'},  // bfr: flush the TA buffer
};

}  // namespace

std::string CMobile::ChooseCnmiCommand(const std::string& testReply) {
    std::vector<std::string> groups;
    const int count = SplitRangeGroups(groups, testReply.size() > 7 ? testReply.substr(7) : std::string(), 5);
    std::string command = "AT+CNMI=";
    if (count >= 4) {
        const int used = count == 5 ? 5 : 4;
        for (int g = 0; g < used; ++g) {
            const CnmiPreference& preference = CNMI_PREFERENCES[g];
            char value = preference.fallback;
            for (const char* d = preference.digits; *d; ++d) {
                if (groups[static_cast<size_t>(g)].find(*d) != std::string::npos) {
                    value = *d;
                    break;
                }
            }
            if (g > 0) command += ',';
            command += value;
        }
    }
    return command + "\r";
}

void CMobile::ChooseIndicationRouting() {
    const std::string reply = Ask("AT+CNMI=?\r", "OK", 2000);
    if (!HasOk(reply)) return;
    const std::string command = ChooseCnmiCommand(reply);
    if (!HasOk(Ask(command, "OK", 2000))) theLog.WriteTimed("\r\nCNMI Error: " + command);
}

int CMobile::Initialize() {
    const bool serial = m_nConnectionMode == 1;
    bool awake = false;
    for (int attempt = 1; attempt <= WAKE_ATTEMPTS && !awake; ++attempt) {
        // A phone that sleeps may need the lines raised, or dropped, before it answers.
        if (serial && attempt == 3) m_pConnection->SetLines(LINES_RAISED);
        if (serial && attempt == 5) m_pConnection->SetLines(LINES_DROPPED);
        awake = HasOk(Ask("AT\r", "", 500));
    }
    if (!awake) return -1;

    Ask("AT&F\r", "OK", 5000);
    Ask("ATE1\r", "OK", 2000);
    PumpPaintMessages();
    Ask("ATV1\r", "OK", 2000);
    Ask("ATQ0\r", "OK", 2000);
    Ask("ATX4\r", "OK", 2000);
    PumpPaintMessages();
    Ask("AT+CMEE=1\r", "OK", 2000);
    Ask("AT+CMER=1\r", "OK", 2000);
    if (!m_strPin.empty()) Ask("AT+CPIN=\"" + m_strPin + "\"\r", "OK", 15000);

    QueryImei();
    m_strManufacturer = QueryManufacturer();
    m_strModel = QueryModel();
    quirks::FillMissingManufacturer(m_strManufacturer, m_strModel);

    Ask("AT+CLIP=1\r", "OK", 2000);
    PumpPaintMessages();
    if (!HasOk(Ask("AT+CMGF=0\r", "OK", 2000))) return -1;

    PumpPaintMessages();
    ChooseIndicationRouting();

    PumpPaintMessages();
    const std::string charsets = Ask("AT+CSCS=?\r", "OK", 2000);
    m_strCharset = quirks::ChooseCharacterSet(m_strManufacturer, charsets);
    SetCharacterSet(m_strCharset);

    GetReadMemory();

    if (!m_strPin.empty()) {
        // The SIM answers nothing useful until it has finished starting after the PIN.
        for (int attempt = 0; attempt < SIM_WAIT_ATTEMPTS; ++attempt) {
            PumpPaintMessages();
            if (HasOk(Ask("AT+CPMS?\r", "OK", 2000))) break;
            if (!SlicedSleep(m_clock, SIM_WAIT_PAUSE_MS, SLEEP_SLICE_MS)) break;
        }
    }
    return 1;
}
