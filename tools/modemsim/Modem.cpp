#include "Modem.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <utility>

#include "Gsm7.h"

namespace modemsim {

namespace {

constexpr char CTRL_Z = 0x1A;
constexpr char ESC = 0x1B;
constexpr char BACKSPACE = 0x08;
// Longest command line or PDU kept; the rest of an overlong one is dropped, so the
// command fails as it would on a modem with a fixed line buffer.
constexpr size_t MAX_LINE = 4096;

std::string Upper(std::string s) {
    for (char& ch : s)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

const char* ErrorText(bool cms, int code) {
    if (cms) {
        switch (code) {
        case 302: return "operation not allowed";
        case 303: return "operation not supported";
        case 304: return "invalid PDU mode parameter";
        case 311: return "SIM PIN required";
        case 314: return "SIM busy";
        case 316: return "SIM PUK required";
        case 321: return "invalid memory index";
        case 322: return "memory full";
        default: return "unknown error";
        }
    }
    switch (code) {
    case 3: return "operation not allowed";
    case 4: return "operation not supported";
    case 11: return "SIM PIN required";
    case 12: return "SIM PUK required";
    case 14: return "SIM busy";
    case 16: return "incorrect password";
    case 21: return "invalid index";
    default: return "unknown";
    }
}

}  // namespace

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

int Store::FirstFree() const {
    for (int i = first; i < first + capacity; ++i) {
        if (!slots.count(i))
            return i;
    }
    return -1;
}

Modem::Modem(ModemOutput& out, const Profile& profile) : m_out(out) {
    SetProfile(profile);
}

// The profile's stores; a store kept from the previous profile keeps its messages when its
// numbering stays.
void Modem::SetProfile(const Profile& profile) {
    static const std::map<std::string, int> capacities = {{"SM", 30}, {"ME", 100}, {"MT", 130}};
    std::vector<Store> stores;
    for (const std::string& name : profile.stores) {
        Store store{name, capacities.count(name) ? capacities.at(name) : 30, {}, profile.firstIndex};
        if (const Store* old = FindStore(name); old && old->first == store.first)
            store.slots = old->slots;
        stores.push_back(std::move(store));
    }
    m_stores = std::move(stores);
    for (std::string& mem : m_mem)
        if (!FindStore(mem))
            mem = m_stores.front().name;
    m_profile = profile;
    m_id.manufacturer = profile.manufacturer;
    m_id.model = profile.model;
}

void Modem::SetPin(const std::string& pin, int tries) {
    m_pin = pin;
    m_simReady = pin.empty();
    m_pinTries = tries;
}

void Modem::Input(std::string_view bytes) {
    for (char ch : bytes) {
        if (m_pduMode)
            PduByte(ch);
        else
            CommandByte(ch);
    }
    FlushEcho();
}

void Modem::CommandByte(char ch) {
    if (m_echoOn && m_faults.silent == 0)
        m_echo += ch;
    if (ch == '\r') {
        EndLine();
    } else if (ch == '\n') {
        // Line feeds after the CR are not part of the next command.
    } else if (ch == BACKSPACE) {
        if (!m_line.empty())
            m_line.pop_back();
    } else if (m_line.size() < MAX_LINE) {
        m_line += ch;
    }
}

void Modem::PduByte(char ch) {
    if (ch == CTRL_Z) {
        FlushEcho();
        m_pduMode = false;
        const Result r = Submit();
        // A late answer holds back this answer (and everything queued behind it) only.
        const int slow = m_faults.slowMs;
        m_faults.slowMs += m_lateAnswerMs;
        SendAnswer(r.lines, r);
        m_faults.slowMs = slow;
        m_lateAnswerMs = 0;
    } else if (ch == ESC) {
        FlushEcho();
        m_pduMode = false;
        Record("{\"t\":" + std::to_string(NowMs()) + ",\"kind\":\"pdu\",\"command\":" + JsonString(m_pduCommand) +
               ",\"length\":" + std::to_string(m_pduLength) + ",\"pdu\":" + JsonString(m_pdu) +
               ",\"result\":\"cancelled\"}");
        SendAnswer({}, Result{});
    } else if (ch == '\r' || ch == '\n' || ch == ' ') {
        // Some clients break the PDU line; the modem ignores white space.
    } else {
        if (m_echoOn)
            m_echo += ch;
        if (m_pdu.size() < MAX_LINE)
            m_pdu += ch;
    }
}

void Modem::EndLine() {
    std::string line;
    line.swap(m_line);
    // The command starts at "AT" in either case; anything before it (a wake-up ESC,
    // noise) is dropped, and a line without it is not a command.
    size_t at = std::string::npos;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(line[i])) == 'A' &&
            std::toupper(static_cast<unsigned char>(line[i + 1])) == 'T') {
            at = i;
            break;
        }
    }
    if (at == std::string::npos)
        return;
    const bool muted = !m_faults.mute.empty() && line.compare(at, m_faults.mute.size(), m_faults.mute) == 0;
    const bool answered = m_faults.silent == 0 && !muted;
    Record("{\"t\":" + std::to_string(NowMs()) + ",\"kind\":\"command\",\"text\":" + JsonString(line) +
           (answered ? "" : ",\"answered\":false") + "}");
    if (!answered) {
        if (!muted) --m_faults.silent;
        m_echo.clear();
        return;
    }
    RunLine(line.substr(at + 2));
}

void Modem::RunLine(const std::string& body) {
    std::vector<Command> commands;
    if (!ParseChain(body, commands)) {
        Result r;
        r.final = Final::Error;
        SendAnswer({}, r);
        return;
    }
    std::vector<std::string> lines;
    Result last;
    for (const auto& c : commands) {
        last = Execute(c);
        lines.insert(lines.end(), last.lines.begin(), last.lines.end());
        if (last.final != Final::Ok)
            break;
    }
    SendAnswer(lines, last);
}

bool Modem::ParseChain(const std::string& body, std::vector<Command>& commands) const {
    size_t p = 0;
    auto isDigit = [&](size_t i) { return i < body.size() && std::isdigit(static_cast<unsigned char>(body[i])); };
    while (p < body.size()) {
        const char ch = body[p];
        if (ch == ' ' || ch == ';') {
            ++p;
            continue;
        }
        Command c;
        if (ch == '+' || ch == '*' || ch == '^' || ch == '$' || ch == '%' || ch == '#') {
            size_t q = p + 1;
            while (q < body.size() && (std::isalnum(static_cast<unsigned char>(body[q])) || body[q] == '_'))
                ++q;
            c.name = Upper(body.substr(p, q - p));
            if (c.name.size() < 2)
                return false;
            p = q;
            if (p < body.size() && body[p] == '?') {
                c.type = Type::Read;
                ++p;
            } else if (p < body.size() && body[p] == '=') {
                ++p;
                if (p < body.size() && body[p] == '?') {
                    c.type = Type::Test;
                    ++p;
                } else {
                    c.type = Type::Set;
                    bool quoted = false;
                    size_t start = p;
                    while (p < body.size() && (quoted || body[p] != ';')) {
                        if (body[p] == '"')
                            quoted = !quoted;
                        ++p;
                    }
                    c.raw = body.substr(start, p - start);
                    // Split at commas outside quotes; quotes removed, blanks around trimmed.
                    std::string cur;
                    bool inQuote = false;
                    for (size_t i = 0; i <= c.raw.size(); ++i) {
                        if (i == c.raw.size() || (c.raw[i] == ',' && !inQuote)) {
                            const auto b = cur.find_first_not_of(' ');
                            const auto e = cur.find_last_not_of(' ');
                            c.args.push_back(b == std::string::npos ? "" : cur.substr(b, e - b + 1));
                            cur.clear();
                        } else if (c.raw[i] == '"') {
                            inQuote = !inQuote;
                        } else {
                            cur += c.raw[i];
                        }
                    }
                }
            }
        } else if (std::isalpha(static_cast<unsigned char>(ch)) || ch == '&') {
            size_t q = p + 1;
            if (ch == '&') {
                if (q >= body.size() || !std::isalpha(static_cast<unsigned char>(body[q])))
                    return false;
                ++q;
            }
            c.name = Upper(body.substr(p, q - p));
            p = q;
            if (c.name == "D") {
                c.type = Type::Set;
                c.raw = body.substr(p);
                p = body.size();
            } else if (c.name == "S") {
                size_t start = p;
                while (isDigit(p))
                    ++p;
                c.raw = body.substr(start, p - start);
                if (p < body.size() && body[p] == '?') {
                    c.type = Type::Read;
                    ++p;
                } else if (p < body.size() && body[p] == '=') {
                    c.type = Type::Set;
                    ++p;
                    start = p;
                    while (isDigit(p))
                        ++p;
                    c.args.push_back(body.substr(start, p - start));
                } else {
                    return false;
                }
            } else {
                const size_t start = p;
                while (isDigit(p))
                    ++p;
                c.raw = body.substr(start, p - start);
                if (!c.raw.empty()) {
                    c.type = Type::Set;
                    c.args.push_back(c.raw);
                }
            }
        } else {
            return false;
        }
        commands.push_back(std::move(c));
    }
    return true;
}

std::string Modem::FormatLine(const std::string& line) const {
    return m_verbose ? "\r\n" + line + "\r\n" : line + "\r\n";
}

std::string Modem::FormatFinal(const Result& r) const {
    if (r.final == Final::Prompt)
        return "\r\n> ";
    if (m_quiet || r.final == Final::Silent)
        return "";
    std::string text;
    int numeric = 0;
    switch (r.final) {
    case Final::Ok: text = "OK"; numeric = 0; break;
    case Final::Error: text = "ERROR"; numeric = 4; break;
    case Final::Cme:
    case Final::Cms: {
        const bool cms = r.final == Final::Cms;
        if (m_cmee == 0) {
            text = "ERROR";
            numeric = 4;
            break;
        }
        const std::string prefix = cms ? "+CMS ERROR: " : "+CME ERROR: ";
        return FormatLine(prefix + (m_cmee == 1 ? std::to_string(r.code) : ErrorText(cms, r.code)));
    }
    default: break;
    }
    return m_verbose ? "\r\n" + text + "\r\n" : std::to_string(numeric) + "\r";
}

void Modem::SendAnswer(const std::vector<std::string>& lines, const Result& last) {
    FlushEcho();
    std::string out;
    for (const auto& l : lines)
        out += FormatLine(l);
    const std::string final = FormatFinal(last);
    if (!m_faults.inject.empty() && !final.empty() && last.final != Final::Prompt) {
        out += FormatLine(m_faults.inject);
        RecordUnsolicited(m_faults.inject);
        m_faults.inject.clear();
    }
    out += final;
    if (!out.empty())
        m_out.Answer(out);
}

void Modem::Emit(const std::string& bytes) {
    FlushEcho();
    m_out.Answer(bytes);
}

void Modem::FlushEcho() {
    if (!m_echo.empty()) {
        m_out.Echo(m_echo);
        m_echo.clear();
    }
}

void Modem::Record(const std::string& json) {
    m_records.push_back(json);
    if (m_sink)
        m_sink(json);
}

void Modem::RecordUnsolicited(const std::string& text) {
    Record("{\"t\":" + std::to_string(NowMs()) + ",\"kind\":\"unsolicited\",\"text\":" + JsonString(text) + "}");
}

void Modem::Unsolicited(const std::string& text) {
    RecordUnsolicited(text);
    Emit(FormatLine(text));
}

void Modem::Ring(const std::string& number) {
    if (!number.empty())
        m_callNumber = number;
    m_ringing = true;
    std::string out = m_verbose ? FormatLine("RING") : "2\r";
    RecordUnsolicited("RING");
    if (m_clip && !m_callNumber.empty()) {
        const std::string clip = "+CLIP: \"" + m_callNumber + "\"," + (m_callNumber[0] == '+' ? "145" : "129");
        out += FormatLine(clip);
        RecordUnsolicited(clip);
    }
    Emit(out);
}

Store* Modem::FindStore(const std::string& name) {
    for (auto& s : m_stores) {
        if (s.name == name)
            return &s;
    }
    return nullptr;
}

const Store* Modem::FindStore(const std::string& name) const {
    for (const auto& s : m_stores) {
        if (s.name == name)
            return &s;
    }
    return nullptr;
}

bool Modem::Deliver(const std::vector<EncodedPdu>& pdus, bool statusReport, Via via, const std::string& mem,
                    std::vector<std::string>& lines, std::string& error, int at) {
    if (via == Via::Auto) {
        if (statusReport)
            via = m_cnmi[3] == 1 ? Via::Direct : m_cnmi[3] == 2 ? Via::Store : Via::Silent;
        else
            // mt=3 routes only class 3 messages directly, which DELIVER does not make.
            via = m_cnmi[1] == 1 || m_cnmi[1] == 3 ? Via::Store : m_cnmi[1] == 2 ? Via::Direct : Via::Silent;
    }
    if (via == Via::Direct) {
        for (const auto& p : pdus) {
            // With AT+CSMS=1 one delivery at a time is shown; the next waits for its acknowledgement.
            if (m_csms == 1)
                m_directQueue.push_back({p, statusReport, 0});
            else
                ShowDirect(p, statusReport);
            lines.push_back("DIRECT");
        }
        if (!m_unacked)
            ShowNextDirect();
        return true;
    }
    Store* store = FindStore(mem.empty() ? m_mem[2] : mem);
    if (!store) {
        error = "unknown storage";
        return false;
    }
    if (store->Free() < static_cast<int>(pdus.size())) {
        error = "store full";
        return false;
    }
    if (at >= 0 && (!store->Holds(at) || store->slots.count(at))) {
        error = "no free place " + std::to_string(at);
        return false;
    }
    for (const auto& p : pdus) {
        const int index = at >= 0 && &p == &pdus.front() ? at : store->FirstFree();
        store->slots[index] = StoredMessage{0, p.hex, p.tpduLength};
        lines.push_back("STORED " + store->name + " " + std::to_string(index));
        if (via == Via::Store)
            Unsolicited(std::string(statusReport ? "+CDSI: \"" : "+CMTI: \"") + store->name + "\"," +
                        std::to_string(index));
    }
    return true;
}

void Modem::ShowDirect(const EncodedPdu& pdu, bool report) {
    const std::string head =
        report ? "+CDS: " + std::to_string(pdu.tpduLength) : "+CMT: ," + std::to_string(pdu.tpduLength);
    RecordUnsolicited(head + "\r\n" + pdu.hex);
    Emit(m_verbose ? "\r\n" + head + "\r\n" + pdu.hex + "\r\n" : head + "\r\n" + pdu.hex + "\r\n");
}

void Modem::ShowNextDirect() {
    if (m_unacked || m_directQueue.empty())
        return;
    m_unacked = m_directQueue.front();
    m_directQueue.pop_front();
    m_unacked->due = NowMs() + m_ackWaitMs;
    ShowDirect(m_unacked->pdu, m_unacked->report);
}

// No acknowledgement in time: as 27.005 has it, the modem answers the network with an
// error and turns direct routing off (mt and ds 0); the service centre keeps the message
// and every one queued behind it, and delivers them again later.
void Modem::FailAck(const char* result, int64_t now) {
    Record("{\"t\":" + std::to_string(now) + ",\"kind\":\"ack\",\"result\":\"" + result + "\",\"pdu\":" +
           JsonString(m_unacked->pdu.hex) + "}");
    m_cnmi[1] = 0;
    m_cnmi[3] = 0;
    const int64_t due = now + m_retryWaitMs;
    m_retries.push_back({m_unacked->pdu, m_unacked->report, due});
    m_unacked.reset();
    for (const auto& d : m_directQueue)
        m_retries.push_back({d.pdu, d.report, due});
    m_directQueue.clear();
}

int Modem::Pump() {
    const int64_t now = NowMs();
    if (m_unacked && m_unacked->due <= now)
        FailAck("timeout", now);  // the pass's own time: a retry due at once is tried in it
    ShowNextDirect();
    std::vector<DirectDelivery> later;
    for (auto& retry : std::exchange(m_retries, {})) {
        std::vector<std::string> lines;
        std::string error;
        if (retry.due > now) {
            later.push_back(retry);
        } else if (!Deliver({retry.pdu}, retry.report, Via::Auto, "", lines, error)) {
            retry.due = now + m_retryWaitMs;  // a full store: the network tries again later
            later.push_back(retry);
        }
    }
    m_retries.insert(m_retries.end(), later.begin(), later.end());
    int64_t next = -1;
    auto consider = [&](int64_t due) { next = next < 0 ? due : std::min(next, due); };
    if (m_unacked)
        consider(m_unacked->due);
    for (const auto& r : m_retries)
        consider(r.due);
    return next < 0 ? -1 : static_cast<int>(std::max<int64_t>(0, next - now));
}

std::vector<std::string> Modem::StateLines() const {
    auto join = [](const std::vector<int>& v) {
        std::string s;
        for (size_t i = 0; i < v.size(); ++i)
            s += (i ? "," : "") + std::to_string(v[i]);
        return s;
    };
    return {
        "profile=" + m_profile.name,
        "echo=" + std::to_string(m_echoOn),
        "verbose=" + std::to_string(m_verbose),
        "quiet=" + std::to_string(m_quiet),
        "cmee=" + std::to_string(m_cmee),
        "cmgf=" + std::to_string(m_cmgf),
        "cscs=" + m_cscs,
        "cnmi=" + join(m_cnmi),
        "csms=" + std::to_string(m_csms),
        "unacked=" + std::to_string(m_unacked ? 1 : 0),
        "retries=" + std::to_string(m_retries.size()),
        "clip=" + std::to_string(m_clip),
        "creg=" + std::to_string(m_creg),
        "pin=" + std::string(m_simReady ? "READY" : m_pinTries > 0 ? "SIM PIN" : "SIM PUK"),
        "pintries=" + std::to_string(m_pinTries),
        "mem1=" + m_mem[0],
        "mem2=" + m_mem[1],
        "mem3=" + m_mem[2],
        "smsc=" + m_id.smsc,
        "call=" + m_callNumber,
    };
}

bool Modem::ListLines(const std::string& mem, std::vector<std::string>& lines) const {
    if (!mem.empty() && !FindStore(mem))
        return false;
    for (const auto& s : m_stores) {
        if (!mem.empty() && s.name != mem)
            continue;
        for (const auto& [index, m] : s.slots) {
            lines.push_back("{\"mem\":\"" + s.name + "\",\"index\":" + std::to_string(index) +
                            ",\"stat\":" + std::to_string(m.stat) + ",\"length\":" + std::to_string(m.length) +
                            ",\"pdu\":\"" + m.pdu + "\"}");
        }
    }
    return true;
}

bool Modem::Clear(const std::string& mem) {
    if (!mem.empty() && !FindStore(mem))
        return false;
    for (auto& s : m_stores) {
        if (mem.empty() || s.name == mem)
            s.slots.clear();
    }
    return true;
}

}  // namespace modemsim
