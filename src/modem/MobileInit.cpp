#include "link/LogFile.h"
#include "modem/DeviceQuirks.h"
#include "modem/Mobile.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr int WAKE_ATTEMPTS = 6;
constexpr int SIM_WAIT_ATTEMPTS = 30;  // about half a minute for a SIM that is starting
constexpr int SIM_WAIT_PAUSE_MS = 1000;
constexpr int SLEEP_SLICE_MS = 50;
constexpr int LINES_RAISED = 3, LINES_DROPPED = 0;

bool HasOk(const std::string& reply) { return reply.find("OK") != std::string::npos; }

// Whether the reply carries the numeric error prefix + code (and not a longer number).
bool HasErrorCode(const std::string& reply, const char* prefix, int code) {
    const std::string head = prefix + std::to_string(code);
    for (size_t at = reply.find(head); at != std::string::npos; at = reply.find(head, at + 1)) {
        const size_t end = at + head.size();
        if (end == reply.size() || !std::isdigit(static_cast<unsigned char>(reply[end]))) return true;
    }
    return false;
}

// "SIM busy" (27.005 314, 27.007 14) or "initialisation in progress" (515): the SIM is
// still starting and the command will be taken later.
bool IsSimBusy(const std::string& reply) {
    return HasErrorCode(reply, "+CMS ERROR: ", 314) || HasErrorCode(reply, "+CME ERROR: ", 14) ||
           HasErrorCode(reply, "+CME ERROR: ", 515) || reply.find("SIM busy") != std::string::npos;
}

// The state named by a "+CPIN: <state>" line ("READY", "SIM PIN", ...), empty without one.
std::string PinState(const std::string& reply) {
    const size_t at = reply.find("+CPIN:");
    if (at == std::string::npos) return std::string();
    const size_t end = reply.find_first_of("\r\n", at);
    std::string state = reply.substr(at + 6, end == std::string::npos ? std::string::npos : end - at - 6);
    state.erase(std::remove(state.begin(), state.end(), '"'), state.end());
    const size_t first = state.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : state.substr(first, state.find_last_not_of(' ') - first + 1);
}

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

std::vector<std::string> CMobile::CnmiCandidates(const std::string& testReply) {
    std::vector<std::string> commands{ChooseCnmiCommand(testReply)};
    auto add = [&commands](const std::string& command) {
        if (std::find(commands.begin(), commands.end(), command) == commands.end()) commands.push_back(command);
    };
    const std::string text = testReply.size() > 7 ? testReply.substr(7) : std::string();
    std::vector<std::string> groups;
    const int split = SplitRangeGroups(groups, text, 5);
    // Only parenthesised groups are parameters; the tail after the last one is not.
    const int count = std::min(split, static_cast<int>(std::count(text.begin(), text.end(), '(')));
    if (count < 4) return commands;
    auto allows = [&groups](int g, char value) {
        const std::string& group = groups[static_cast<size_t>(g)];
        return group.empty() || group.find(value) != std::string::npos;
    };
    char mt = 0;  // indications of stored messages first, else direct delivery
    for (char value : {'1', '2', '3'}) {
        if (!mt && allows(1, value)) mt = value;
    }
    if (!mt) return commands;
    const std::string bm = allows(2, '0') ? "0" : "";  // no cell broadcasts, else left as it is
    for (char mode : {'2', '1'}) {
        for (char ds : {'1', '2', '0'}) {
            if (!allows(0, mode) || !allows(3, ds)) continue;
            const std::string base = std::string("AT+CNMI=") + mode + ',' + mt + ',' + bm + ',' + ds;
            if (count == 5 && allows(4, '0')) add(base + ",0\r");
            add(base + "\r");
        }
    }
    return commands;
}

void CMobile::ChooseIndicationRouting() {
    m_strCnmi.clear();
    m_bDirectHeld = false;
    const std::string reply = Ask("AT+CNMI=?\r", "OK", 2000);
    if (!HasOk(reply)) return;
    for (const std::string& command : CnmiCandidates(reply)) {
        if (HasOk(AskSim(command, "OK", 2000))) {
            theLog.WriteTimed("\r\nCNMI: " + command);
            m_strCnmi = command;
            return;
        }
        theLog.WriteTimed("\r\nCNMI Error: " + command);
        if (m_nSimState == SIM_NOT_READY) return;
    }
}

// Phase 2+ (AT+CSMS=1): a direct message is acknowledged only once it is kept, so one lost
// before that is delivered again. The answer names the services supported in that mode;
// a modem that takes the command but cannot receive in it goes back to service 0.
void CMobile::ChooseMessageService() {
    const std::string reply = AskSim("AT+CSMS=1\r", "OK", 2000);
    m_bAckDirect = HasOk(reply) && ParseReply(reply, "+CSMS:") == 1 && m_nFieldCount >= 1 &&
                   DecimalValue(m_fields[0]) == 1;
    if (HasOk(reply) && !m_bAckDirect) Ask("AT+CSMS=0\r", "OK", 2000);
    theLog.WriteTimed(m_bAckDirect ? "\r\nCSMS: direct messages are acknowledged once kept"
                                   : "\r\nCSMS: no acknowledgements (phase 2)");
}

bool CMobile::WaitForSim() {
    if (m_nSimState == SIM_NOT_READY) return false;  // already waited in vain
    std::string reply;
    for (int attempt = 0; attempt < SIM_WAIT_ATTEMPTS; ++attempt) {
        PumpPaintMessages();
        reply = Ask("AT+CPMS?\r", "OK", 2000);
        if (HasOk(reply)) return true;
        if (!SlicedSleep(m_clock, SIM_WAIT_PAUSE_MS, SLEEP_SLICE_MS)) return false;
    }
    // A modem that refuses the query without saying "busy" is used as it is.
    if (!reply.empty() && !IsSimBusy(reply)) return true;
    theLog.WriteTimed("\r\nSIM not ready");
    m_nSimState = SIM_NOT_READY;
    return false;
}

std::string CMobile::AskSim(const std::string& command, const std::string& extra, int timeoutMs) {
    std::string reply = Ask(command, extra, timeoutMs);
    if (IsSimBusy(reply) && WaitForSim()) reply = Ask(command, extra, timeoutMs);
    return reply;
}

int CMobile::UnlockSim() {
    auto fail = [](int state, const std::string& text) {
        theLog.WriteTimed("\r\n" + text);
        return state;
    };
    std::string reply = AskSim("AT+CPIN?\r", "OK", 5000);
    std::string state = PinState(reply);
    if (state == "SIM PIN") {
        if (m_strPin.empty()) return fail(SIM_PIN_MISSING, "SIM PIN required but none configured");
        if (m_strPin == m_strRefusedPin)
            return fail(SIM_PIN_REFUSED, "SIM PIN refused before: not presented again until the PIN setting changes");
        if (!HasOk(Ask("AT+CPIN=\"" + m_strPin + "\"\r", "OK", 15000))) {
            m_strRefusedPin = m_strPin;
            state = PinState(Ask("AT+CPIN?\r", "OK", 5000));
            if (state == "SIM PUK") return fail(SIM_PUK_REQUIRED, "SIM PIN refused, SIM PUK required");
            if (state != "READY") return fail(SIM_PIN_REFUSED, "SIM PIN refused");
        }
        m_strRefusedPin.clear();
        return WaitForSim() ? SIM_READY : SIM_NOT_READY;
    }
    if (state == "SIM PUK") return fail(SIM_PUK_REQUIRED, "SIM PUK required");
    if (state.empty() && (HasErrorCode(reply, "+CME ERROR: ", 10) || HasErrorCode(reply, "+CME ERROR: ", 13)))
        return fail(SIM_NOT_READY, "SIM not inserted or failed: " + reply);
    // A modem that cannot tell is used as it is; PIN2 and PUK2 lock other functions only.
    if (state.empty() || state == "READY" || state == "SIM PIN2" || state == "SIM PUK2") return SIM_READY;
    return fail(SIM_NOT_READY, "SIM locked: " + state);
}

std::string CMobile::StorageFrom(const std::string& reply) {
    if (!HasOk(reply) || ParseReply(reply, "+CPMS:") != 1 || m_nFieldCount < 1) return std::string();
    m_strStorage = m_fields[0];
    return m_strStorage;
}

int CMobile::Initialize() {
    const bool serial = m_nConnectionMode == 1;
    bool awake = false;
    for (int attempt = 1; attempt <= WAKE_ATTEMPTS && !awake; ++attempt) {
        // A phone that sleeps may need the lines raised, or dropped, before it answers.
        if (serial && attempt == 3) m_pConnection->SetLines(LINES_RAISED);
        if (serial && attempt == 5) m_pConnection->SetLines(LINES_DROPPED);
        // A modem left waiting for PDU text (the gateway stopped mid-submission) takes
        // every AT as part of it until ESC ends the input; the PDU is then not sent.
        if (attempt == 2) LeavePduInput();
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
    m_nSimState = UnlockSim();
    if (m_nSimState != SIM_READY) return -1;

    QueryImei();
    m_strManufacturer = QueryManufacturer();
    m_strModel = QueryModel();
    quirks::FillMissingManufacturer(m_strManufacturer, m_strModel);

    Ask("AT+CLIP=1\r", "OK", 2000);
    PumpPaintMessages();
    // From here on every command that needs the SIM waits for it when it answers "busy".
    if (!HasOk(AskSim("AT+CMGF=0\r", "OK", 2000))) return -1;

    PumpPaintMessages();
    ChooseMessageService();
    ChooseIndicationRouting();

    PumpPaintMessages();
    const std::string charsets = Ask("AT+CSCS=?\r", "OK", 2000);
    m_strCharset = quirks::ChooseCharacterSet(m_strManufacturer, charsets);
    SetCharacterSet(m_strCharset);

    StorageFrom(AskSim("AT+CPMS?\r", "OK", 2000));
    // Which storages exist, so that scans leave out those the modem lacks; and whether it
    // lists its messages is learnt anew on the first scan.
    QueryStoreNames();
    m_nListing = 0;
    // A SIM still busy when the wait ran out: the next connect configures it again.
    return m_nSimState == SIM_READY ? 1 : -1;
}
