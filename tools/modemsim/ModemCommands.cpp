// The AT commands the simulated modem knows, one handler per command family.
#include <algorithm>
#include <cctype>

#include "Gsm7.h"
#include "Modem.h"

namespace modemsim {

namespace {

bool ToInt(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char ch : text) {
        if (!std::isdigit(static_cast<unsigned char>(ch)))
            return false;
    }
    value = std::stoi(text);
    return true;
}

bool Contains(const std::vector<int>& values, int v) {
    return std::find(values.begin(), values.end(), v) != values.end();
}

// Storage name to the stored-status filter of AT+CMGL given as text.
int StatFromName(const std::string& name) {
    static const char* names[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT", "ALL"};
    for (int i = 0; i < 5; ++i) {
        if (name == names[i])
            return i;
    }
    return -1;
}

}  // namespace

void Modem::Reset() {
    m_echoOn = true;
    m_verbose = true;
    m_quiet = false;
    m_cmee = 0;
    m_clip = 0;
    m_creg = 0;
    m_cscs = "GSM";
    m_cnmi = {0, 0, 0, 0, 0};
    m_csms = 0;
}

bool Modem::SimNeeded(const std::string& name) const {
    static const char* needing[] = {"+CPMS", "+CMGS", "+CMGW", "+CMGR", "+CMGD", "+CMGL", "+CSCA", "+CIMI", "+CNMI"};
    return std::any_of(std::begin(needing), std::end(needing), [&](const char* n) { return name == n; });
}

std::string Modem::EncodeText(const std::string& text) const {
    if (m_cscs != "UCS2")
        return text;
    std::vector<uint8_t> octets;
    for (char32_t c : DecodeUtf8(text)) {
        for (uint16_t w : Utf16Units(c)) {
            octets.push_back(static_cast<uint8_t>(w >> 8));
            octets.push_back(static_cast<uint8_t>(w & 0xFF));
        }
    }
    return ToHex(octets);
}

bool Modem::DecodeText(const std::string& text, std::string& plain) const {
    if (m_cscs != "UCS2") {
        plain = text;
        return true;
    }
    // In UCS2 every character is four hex digits.
    if (text.size() % 4 != 0)
        return false;
    const auto octets = FromHex(text);
    if (!octets)
        return false;
    std::vector<char32_t> chars;
    for (size_t i = 0; i < octets->size(); i += 2)
        chars.push_back(static_cast<char32_t>((*octets)[i] << 8 | (*octets)[i + 1]));
    plain = EncodeUtf8(chars);
    return true;
}

Modem::Result Modem::Execute(const Command& c) {
    // Message-service commands report +CMS errors, the others +CME errors.
    static const char* messageService[] = {"+CPMS", "+CMGS", "+CMGW", "+CMGR", "+CMGD",
                                           "+CMGL", "+CSCA", "+CNMI", "+CSMS"};
    const bool cms = std::any_of(std::begin(messageService), std::end(messageService),
                                 [&](const char* n) { return c.name == n; });
    const bool simCommand = SimNeeded(c.name) && c.type != Type::Test;
    if (!m_simReady && simCommand) {
        if (m_pinTries > 0)
            return {{}, cms ? Final::Cms : Final::Cme, cms ? 311 : 11};
        return {{}, cms ? Final::Cms : Final::Cme, cms ? 316 : 12};
    }
    const bool starting = NowMs() < m_simBusyUntil;
    if (m_simReady && !m_pin.empty() && (m_faults.simBusy > 0 || starting) && simCommand) {
        if (!starting)
            --m_faults.simBusy;
        return {{}, cms ? Final::Cms : Final::Cme, cms ? 314 : 14};
    }
    if (c.name[0] == '+')
        return Extended(c);
    if (c.name[0] == '*' || c.name[0] == '^' || c.name[0] == '$' || c.name[0] == '%' || c.name[0] == '#')
        return {{}, Final::Error, 0};
    return Basic(c);
}

Modem::Result Modem::Basic(const Command& c) {
    int v = 0;
    const bool hasValue = !c.args.empty() && ToInt(c.args[0], v);
    if (c.type == Type::Set && !c.args.empty() && !hasValue && c.name != "S")
        return {{}, Final::Error, 0};
    if (c.name == "E" || c.name == "V" || c.name == "Q") {
        if (v > 1)
            return {{}, Final::Error, 0};
        if (c.name == "E")
            m_echoOn = v == 1;
        else if (c.name == "V")
            m_verbose = v == 1;
        else
            m_quiet = v == 1;
        return {};
    }
    if (c.name == "X")
        return v <= 4 ? Result{} : Result{{}, Final::Error, 0};
    if (c.name == "Z" || c.name == "&F") {
        Reset();
        return {};
    }
    if (c.name == "I")
        return {{m_id.manufacturer, m_id.model, "Revision: " + m_id.revision}, Final::Ok, 0};
    if (c.name == "H") {
        HangUp();
        return {};
    }
    if (c.name == "A") {
        if (!m_ringing)
            return {{}, Final::Error, 0};
        m_ringing = false;
        return {};
    }
    if (c.name == "S")
        return c.type == Type::Read ? Result{{"000"}, Final::Ok, 0} : Result{};
    if (c.name == "L" || c.name == "M" || c.name == "&C" || c.name == "&D" || c.name == "&K" || c.name == "&W")
        return {};
    return {{}, Final::Error, 0};
}

Modem::Result Modem::Extended(const Command& c) {
    const std::string& n = c.name;
    const auto& a = c.args;
    auto setInt = [&](int& target, int lo, int hi, bool cmsError) -> Result {
        int v = 0;
        if (a.empty() || !ToInt(a[0], v) || v < lo || v > hi)
            return {{}, cmsError ? Final::Cms : Final::Cme, cmsError ? 303 : 4};
        target = v;
        return {};
    };
    auto identity = [&](const std::string& value) -> Result {
        if (c.type == Type::Test)
            return {};
        if (c.type != Type::Exec)
            return {{}, Final::Error, 0};
        if (value.empty())
            return {};
        return {{value}, Final::Ok, 0};
    };

    if (n == "+CGMI" || n == "+GMI")
        return identity(m_id.manufacturer);
    if (n == "+CGMM" || n == "+GMM")
        return identity(m_id.model);
    if (n == "+CGMR" || n == "+GMR")
        return identity(m_id.revision);
    if (n == "+CGSN" || n == "+GSN")
        return identity(m_id.imei);
    if (n == "+CIMI")
        return identity(m_id.imsi);
    if (n == "+GCAP")
        return identity("+GCAP: +CGSM");

    if (n == "+CMEE") {
        if (c.type == Type::Read) return {{"+CMEE: " + std::to_string(m_cmee)}, Final::Ok, 0};
        if (c.type == Type::Test) return {{"+CMEE: (0-2)"}, Final::Ok, 0};
        return setInt(m_cmee, 0, 2, false);
    }
    if (n == "+CMER") {
        if (c.type == Type::Read) return {{"+CMER: 0,0,0,0,0"}, Final::Ok, 0};
        if (c.type == Type::Test) return {{"+CMER: (0-3),(0),(0),(0-2),(0,1)"}, Final::Ok, 0};
        return {};
    }
    if (n == "+CLIP") {
        if (c.type == Type::Read) return {{"+CLIP: " + std::to_string(m_clip) + ",1"}, Final::Ok, 0};
        if (c.type == Type::Test) return {{"+CLIP: (0,1)"}, Final::Ok, 0};
        return setInt(m_clip, 0, 1, false);
    }
    if (n == "+CREG") {
        if (c.type == Type::Read)
            return {{"+CREG: " + std::to_string(m_creg) + "," + std::to_string(m_simReady ? m_id.creg : 0) +
                     (m_creg == 2 ? ",\"00A1\",\"1B2C\"" : "")},
                    Final::Ok, 0};
        if (c.type == Type::Test) return {{"+CREG: (0-2)"}, Final::Ok, 0};
        return setInt(m_creg, 0, 2, false);
    }
    if (n == "+CEREG") {
        if (m_id.cereg < 0) return {{}, Final::Error, 0};
        if (c.type == Type::Read)
            return {{"+CEREG: 0," + std::to_string(m_simReady ? m_id.cereg : 0)}, Final::Ok, 0};
        if (c.type == Type::Test) return {{"+CEREG: (0-2)"}, Final::Ok, 0};
        return {};
    }
    if (n == "+COPS") {
        if (c.type == Type::Read)
            return {{m_simReady ? "+COPS: 0,0,\"" + m_id.operatorName + "\"" : "+COPS: 0"}, Final::Ok, 0};
        if (c.type == Type::Test)
            return {{"+COPS: (2,\"" + m_id.operatorName + "\",\"MSIM\",\"26201\"),,(0-4),(0-2)"}, Final::Ok, 0};
        return {};
    }
    if (n == "+CFUN") {
        if (c.type == Type::Read) return {{"+CFUN: " + std::to_string(m_cfun)}, Final::Ok, 0};
        if (c.type == Type::Test) return {{"+CFUN: (0,1,4),(0,1)"}, Final::Ok, 0};
        int v = 0;
        if (a.empty() || !ToInt(a[0], v) || (v != 0 && v != 1 && v != 4))
            return {{}, Final::Cme, 4};
        m_cfun = v;
        return {};
    }
    if (n == "+CPAS")
        return {{"+CPAS: " + std::string(m_ringing ? "3" : "0")}, Final::Ok, 0};
    if (n == "+CPIN")
        return Pin(c);
    if (n == "+CMGF") {
        if (c.type == Type::Read) return {{"+CMGF: " + std::to_string(m_cmgf)}, Final::Ok, 0};
        if (c.type == Type::Test) return {{"+CMGF: (0)"}, Final::Ok, 0};
        // PDU mode only: text mode is not offered.
        return setInt(m_cmgf, 0, 0, true);
    }
    if (n == "+CSCS") {
        if (c.type == Type::Read) return {{"+CSCS: \"" + m_cscs + "\""}, Final::Ok, 0};
        if (c.type == Type::Test) return {{"+CSCS: " + m_profile.charsets}, Final::Ok, 0};
        if (a.empty() || a[0].empty() || m_profile.charsets.find("\"" + a[0] + "\"") == std::string::npos)
            return {{}, Final::Cme, 4};
        m_cscs = a[0];
        return {};
    }
    if (n == "+CSMS") {
        if (c.type == Type::Read) return {{"+CSMS: " + std::to_string(m_csms) + ",1,1,1"}, Final::Ok, 0};
        if (c.type == Type::Test) return {{m_phase2Plus ? "+CSMS: (0,1)" : "+CSMS: (0)"}, Final::Ok, 0};
        int v = 0;
        if (a.empty() || !ToInt(a[0], v) || v < 0 || v > (m_phase2Plus ? 1 : 0)) return {{}, Final::Cms, 303};
        m_csms = v;
        return {{"+CSMS: 1,1,1"}, Final::Ok, 0};
    }
    if (n == "+CSMP") {
        if (c.type == Type::Read) return {{"+CSMP: 17,167,0,0"}, Final::Ok, 0};
        return {};
    }
    if (n == "+CNMA")
        return Acknowledge(c);
    if (n == "+CNMI") {
        if (c.type == Type::Test) return {{"+CNMI: " + m_profile.cnmiRanges}, Final::Ok, 0};
        if (c.type == Type::Read) {
            std::string s = "+CNMI: ";
            const size_t groups = ParseRanges(m_profile.cnmiRanges).size();
            for (size_t i = 0; i < groups && i < m_cnmi.size(); ++i)
                s += (i ? "," : "") + std::to_string(m_cnmi[i]);
            return {{s}, Final::Ok, 0};
        }
        if (c.type != Type::Set) return {{}, Final::Error, 0};
        const auto groups = ParseRanges(m_profile.cnmiRanges);
        if (a.size() > groups.size()) return {{}, Final::Cms, 303};
        std::vector<int> next = m_cnmi;
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i].empty())
                continue;
            int v = 0;
            if (!ToInt(a[i], v) || !Contains(groups[i], v))
                return {{}, Final::Cms, 303};
            next[i] = v;
        }
        m_cnmi = next;
        return {};
    }
    if (n == "+CPMS" || n == "+CMGR" || n == "+CMGD" || n == "+CMGL" || n == "+CMGS" || n == "+CMGW")
        return n == "+CPMS" ? Storage(c) : Messages(c);
    if (n == "+CSCA") {
        if (c.type == Type::Test) return {};
        if (c.type == Type::Read)
            return {{"+CSCA: \"" + EncodeText(m_id.smsc) + "\"," + std::to_string(m_id.smscType)}, Final::Ok, 0};
        std::string number;
        if (a.empty() || a[0].empty() || !DecodeText(a[0], number)) return {{}, Final::Cms, 304};
        const std::string digits = number[0] == '+' ? number.substr(1) : number;
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char ch) {
                return std::isdigit(static_cast<unsigned char>(ch));
            }))
            return {{}, Final::Cms, 304};
        int type = number[0] == '+' ? 145 : 129;
        if (a.size() > 1 && !a[1].empty() && !ToInt(a[1], type)) return {{}, Final::Cms, 304};
        m_id.smsc = number;
        m_id.smscType = type;
        return {};
    }
    if (n == "+CBC") {
        if (c.type == Type::Test) return {{"+CBC: (0-3),(0-100)"}, Final::Ok, 0};
        return {{"+CBC: " + std::to_string(m_id.bcs) + "," + std::to_string(m_id.bcl)}, Final::Ok, 0};
    }
    if (n == "+CSQ") {
        if (c.type == Type::Test) return {{"+CSQ: (0-31,99),(0-7,99)"}, Final::Ok, 0};
        return {{"+CSQ: " + std::to_string(m_id.rssi) + "," + std::to_string(m_id.ber)}, Final::Ok, 0};
    }
    if (n == "+CLCC") {
        if (m_callNumber.empty() || !m_ringing)
            return {};
        const std::string type = m_callNumber[0] == '+' ? "145" : "129";
        return {{"+CLCC: 1,1,4,0,0,\"" + m_callNumber + "\"," + type}, Final::Ok, 0};
    }
    if (n == "+CHUP") {
        HangUp();
        return {};
    }
    return {{}, Final::Error, 0};
}

// AT+CPIN: a wrong PIN costs one of the tries; with none left the SIM takes only the PUK
// and a new PIN. The accepted PIN starts the SIM, busy for the SIMWAIT time.
Modem::Result Modem::Pin(const Command& c) {
    const auto& a = c.args;
    if (c.type == Type::Read)
        return {{m_simReady ? "+CPIN: READY" : m_pinTries > 0 ? "+CPIN: SIM PIN" : "+CPIN: SIM PUK"}, Final::Ok, 0};
    if (c.type == Type::Test) return {};
    if (c.type != Type::Set || a.empty()) return {{}, Final::Error, 0};
    if (m_simReady) return {{}, Final::Cme, 3};
    if (m_pinTries == 0) {
        if (a[0] != PUK || a.size() < 2 || a[1].empty()) return {{}, Final::Cme, 16};
        m_pin = a[1];
    } else if (a[0] != m_pin) {
        --m_pinTries;
        return {{}, Final::Cme, 16};
    }
    m_pinTries = PIN_TRIES;
    m_simReady = true;
    m_simBusyUntil = NowMs() + m_faults.simWaitMs;
    return {};
}

Modem::Result Modem::Storage(const Command& c) {
    auto triple = [&](bool names) {
        std::string s = "+CPMS: ";
        for (int i = 0; i < 3; ++i) {
            const Store* st = FindStore(m_mem[i]);
            s += (i ? "," : "") + (names ? "\"" + st->name + "\"," : std::string()) +
                 std::to_string(st->capacity - st->Free()) + "," + std::to_string(st->capacity);
        }
        return s;
    };
    if (c.type == Type::Read)
        return {{triple(true)}, Final::Ok, 0};
    if (c.type == Type::Test)
    {
        std::string names;
        for (const Store& st : m_stores)
            names += (names.empty() ? "\"" : ",\"") + st.name + "\"";
        return {{"+CPMS: (" + names + "),(" + names + "),(" + names + ")"}, Final::Ok, 0};
    }
    if (c.type != Type::Set || c.args.empty() || c.args.size() > 3)
        return {{}, Final::Cms, 302};
    for (const auto& name : c.args) {
        if (!FindStore(name))
            return {{}, Final::Cms, 302};
    }
    for (size_t i = 0; i < c.args.size(); ++i)
        m_mem[i] = c.args[i];
    return {{triple(false)}, Final::Ok, 0};
}

Modem::Result Modem::Messages(const Command& c) {
    const std::string& n = c.name;
    Store* read = FindStore(m_mem[0]);
    if (n == "+CMGS" || n == "+CMGW") {
        if (c.type == Type::Test)
            return {};
        int length = 0;
        if (c.type != Type::Set || c.args.empty() || !ToInt(c.args[0], length) || length < 1 || length > 176)
            return {{}, Final::Cms, 304};
        m_pduStat = 2;
        if (n == "+CMGW" && c.args.size() > 1 && (!ToInt(c.args[1], m_pduStat) || m_pduStat < 0 || m_pduStat > 3))
            return {{}, Final::Cms, 304};
        if (n == "+CMGS" && m_faults.cmgsFailures > 0 && m_faults.cmgsMode == "prompt") {
            --m_faults.cmgsFailures;
            return {{}, Final::Cms, 500};
        }
        if (n == "+CMGS" && m_faults.cmgsFailures > 0 && m_faults.cmgsMode == "restart") {
            --m_faults.cmgsFailures;
            return Restart();
        }
        m_pduMode = true;
        m_pdu.clear();
        m_pduCommand = "AT" + n + "=" + c.raw;
        m_pduLength = length;
        m_pduWrite = n == "+CMGW";
        if (n == "+CMGS" && m_faults.cmgsFailures > 0 && m_faults.cmgsMode == "noprompt") {
            --m_faults.cmgsFailures;
            return {{}, Final::Silent, 0};  // waiting for the PDU, but the prompt is lost
        }
        return {{}, Final::Prompt, 0};
    }
    if (n == "+CMGR") {
        int index = 0;
        if (c.type == Type::Test) return {};
        if (c.type != Type::Set || c.args.empty() || !ToInt(c.args[0], index) || !read->Holds(index))
            return {{}, Final::Cms, 321};
        auto it = read->slots.find(index);
        if (it == read->slots.end())
            return {};  // an empty place: nothing but OK
        const std::string stat = std::to_string(it->second.stat), length = std::to_string(it->second.length);
        std::string header;
        switch (m_profile.readLayout) {
            case ReadLayout::Standard: header = stat + ",," + length; break;
            case ReadLayout::IndexFirst: header = std::to_string(index) + "," + stat + ",," + length; break;
            case ReadLayout::NoAlpha: header = stat + "," + length; break;
            case ReadLayout::LengthOnly: header = length; break;
        }
        Result r{{"+CMGR: " + header}, Final::Ok, 0};
        if (!it->second.pdu.empty())
            r.lines.push_back(it->second.pdu);
        if (it->second.stat == 0)
            it->second.stat = 1;
        return r;
    }
    if (n == "+CMGD") {
        if (c.type == Type::Test) {
            std::string used;
            for (const auto& [i, m] : read->slots)
                used += (used.empty() ? "" : ",") + std::to_string(i);
            return {{"+CMGD: (" + used + "),(0-4)"}, Final::Ok, 0};
        }
        int index = 0, flag = 0;
        if (c.type != Type::Set || c.args.empty() || !ToInt(c.args[0], index) || index < 0 ||
            index >= read->first + read->capacity)
            return {{}, Final::Cms, 321};
        if (c.args.size() > 1 && (!ToInt(c.args[1], flag) || flag > 4))
            return {{}, Final::Cms, 321};
        if (flag == 0) {
            if (!read->Holds(index))
                return {{}, Final::Cms, 321};
            read->slots.erase(index);
            return {};
        }
        // Flags 1..4 delete read, read and sent, read and every stored, or everything.
        for (auto it = read->slots.begin(); it != read->slots.end();) {
            const int s = it->second.stat;
            const bool drop = flag == 4 || s == 1 || (flag >= 2 && s == 3) || (flag >= 3 && s == 2);
            it = drop ? read->slots.erase(it) : std::next(it);
        }
        return {};
    }
    // AT+CMGL
    if (!m_profile.listing)
        return {{}, Final::Cms, 303};
    if (c.type == Type::Test)
        return {{"+CMGL: (0-4)"}, Final::Ok, 0};
    int stat = 0;
    if (c.type == Type::Set && !c.args.empty() && !ToInt(c.args[0], stat)) {
        stat = StatFromName(c.args[0]);
        if (stat < 0)
            return {{}, Final::Cms, 302};
    }
    if (stat > 4 || c.type == Type::Read)
        return {{}, Final::Cms, 302};
    Result r;
    for (auto& [index, m] : read->slots) {
        if (stat != 4 && m.stat != stat)
            continue;
        r.lines.push_back("+CMGL: " + std::to_string(index) + "," + std::to_string(m.stat) + ",," +
                          std::to_string(m.length));
        if (!m.pdu.empty())
            r.lines.push_back(m.pdu);
        if (m.stat == 0)
            m.stat = 1;
    }
    return r;
}

// The modem starts again: every setting back at its default, the command or PDU in hand
// lost, and the start-up lines a real modem prints.
Modem::Result Modem::Restart() {
    m_pduMode = false;
    Reset();
    return {{"RDY", "+CPIN: READY"}, Final::Silent, 0};
}

Modem::Result Modem::Submit() {
    const std::string head = "{\"t\":" + std::to_string(NowMs()) + ",\"kind\":\"pdu\",\"command\":" +
                             JsonString(m_pduCommand) + ",\"length\":" + std::to_string(m_pduLength) +
                             ",\"pdu\":" + JsonString(m_pdu);
    const auto octets = FromHex(m_pdu);
    const auto sc = octets ? ScAddressOctets(*octets) : std::nullopt;
    if (!sc || octets->size() - *sc != static_cast<size_t>(m_pduLength)) {
        Record(head + ",\"result\":\"error\",\"reason\":\"bad length or hex\"}");
        return {{}, Final::Cms, 304};
    }
    const bool delivered = m_faults.cmgsMode == "silent" || m_faults.cmgsMode == "late";
    if (!m_pduWrite && m_faults.cmgsFailures > 0 && m_faults.cmgsMode != "prompt" && m_faults.cmgsMode != "noprompt") {
        --m_faults.cmgsFailures;
        if (delivered) {
            // Sent to the network; the answer comes late or never.
            const int mr = m_nextMr;
            m_nextMr = (m_nextMr + 1) & 0xFF;
            Record(head + ",\"result\":\"ok\",\"mr\":" + std::to_string(mr) + "}");
            if (m_faults.cmgsMode == "silent")
                return {{}, Final::Silent, 0};
            m_lateAnswerMs = m_faults.cmgsLateMs;
            return {{"+CMGS: " + std::to_string(mr)}, Final::Ok, 0};
        }
        if (m_faults.cmgsMode == "restart-pdu") {
            Record(head + ",\"result\":\"restart\"}");
            return Restart();
        }
        if (m_faults.cmgsMode == "noref") {
            Record(head + ",\"result\":\"noref\"}");
            return {};
        }
        Record(head + ",\"result\":\"error\",\"reason\":\"injected\"}");
        return {{}, Final::Cms, 500};
    }
    if (m_pduWrite) {
        Store* store = FindStore(m_mem[1]);
        const int index = store->FirstFree();
        if (index < 0) {
            Record(head + ",\"result\":\"error\",\"reason\":\"memory full\"}");
            return {{}, Final::Cms, 322};
        }
        store->slots[index] = StoredMessage{m_pduStat, ToHex(*octets), m_pduLength};
        Record(head + ",\"result\":\"ok\",\"index\":" + std::to_string(index) + "}");
        return {{"+CMGW: " + std::to_string(index)}, Final::Ok, 0};
    }
    const int mr = m_nextMr;
    m_nextMr = (m_nextMr + 1) & 0xFF;
    Record(head + ",\"result\":\"ok\",\"mr\":" + std::to_string(mr) + "}");
    return {{"+CMGS: " + std::to_string(mr)}, Final::Ok, 0};
}

Modem::Result Modem::Acknowledge(const Command& c) {
    if (c.type == Type::Test)
        return {{"+CNMA: (0-2)"}, Final::Ok, 0};
    int n = 0;
    if (c.type == Type::Set && (c.args.empty() || !ToInt(c.args[0], n) || n < 0 || n > 2))
        return {{}, Final::Cms, 303};
    // 340: no acknowledgement expected (none asked for, or the wait ran out).
    if (m_csms != 1 || !m_unacked) {
        Record("{\"t\":" + std::to_string(NowMs()) + ",\"kind\":\"ack\",\"result\":\"unexpected\"}");
        return {{}, Final::Cms, 340};
    }
    const std::string pdu = JsonString(m_unacked->pdu.hex);
    if (n == 2) {
        // A negative acknowledgement: the network tries again later; routing stays as it is.
        m_retries.push_back({m_unacked->pdu, m_unacked->report, NowMs() + m_retryWaitMs});
    }
    Record("{\"t\":" + std::to_string(NowMs()) + ",\"kind\":\"ack\",\"result\":\"" + (n == 2 ? "nack" : "ok") +
           "\",\"pdu\":" + pdu + "}");
    m_unacked.reset();  // the next delivery follows from Pump, after this answer
    return {};
}

}  // namespace modemsim
