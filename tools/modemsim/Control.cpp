#include "Control.h"

#include <cctype>
#include <map>
#include <sstream>

#include "Gsm7.h"

namespace modemsim {

namespace {

std::string Ok(const std::vector<std::string>& lines = {}) {
    std::string out;
    for (const auto& l : lines)
        out += l + "\n";
    return out + "OK\n";
}

std::string Err(const std::string& reason) { return "ERR " + reason + "\n"; }

// "key=value" words; `text=` (or `hex=`) takes the rest of the line.
bool ParseOptions(const std::string& rest, std::map<std::string, std::string>& options, std::string& error) {
    size_t p = 0;
    while (p < rest.size()) {
        while (p < rest.size() && rest[p] == ' ')
            ++p;
        if (p >= rest.size())
            break;
        const size_t eq = rest.find('=', p);
        const size_t space = rest.find(' ', p);
        if (eq == std::string::npos || (space != std::string::npos && space < eq)) {
            error = "expected key=value at '" + rest.substr(p) + "'";
            return false;
        }
        const std::string key = rest.substr(p, eq - p);
        if (key == "text") {
            options[key] = rest.substr(eq + 1);
            break;
        }
        const size_t end = rest.find(' ', eq);
        options[key] = rest.substr(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1);
        p = end == std::string::npos ? rest.size() : end;
    }
    return true;
}

bool ToInt(const std::string& text, int& value) {
    try {
        size_t used = 0;
        value = std::stoi(text, &used);
        return used == text.size();
    } catch (const std::exception&) {
        return false;
    }
}

bool ParseVia(const std::map<std::string, std::string>& o, Via& via) {
    auto it = o.find("via");
    if (it == o.end() || it->second == "auto") via = Via::Auto;
    else if (it->second == "store") via = Via::Store;
    else if (it->second == "direct") via = Via::Direct;
    else if (it->second == "silent") via = Via::Silent;
    else return false;
    return true;
}

std::string Get(const std::map<std::string, std::string>& o, const std::string& key, const std::string& fallback) {
    auto it = o.find(key);
    return it == o.end() ? fallback : it->second;
}

// The message text from text= or hex= (UTF-8 in hex).
bool MessageText(const std::map<std::string, std::string>& o, std::string& text) {
    if (auto it = o.find("hex"); it != o.end()) {
        const auto bytes = FromHex(it->second);
        if (!bytes)
            return false;
        text.assign(bytes->begin(), bytes->end());
        return true;
    }
    text = Get(o, "text", "");
    return true;
}

// The parts in the order a comma-separated list of part numbers gives (1-based; a part
// may be left out or named twice).
bool Reorder(const std::string& order, std::vector<EncodedPdu>& pdus) {
    std::vector<EncodedPdu> sent;
    std::istringstream in(order);
    std::string item;
    while (std::getline(in, item, ',')) {
        int part = 0;
        if (!ToInt(item, part) || part < 1 || part > static_cast<int>(pdus.size()))
            return false;
        sent.push_back(pdus[static_cast<std::size_t>(part - 1)]);
    }
    if (sent.empty())
        return false;
    pdus = std::move(sent);
    return true;
}

ControlResult Deliver(Modem& modem, const std::string& verb, const std::string& rest) {
    std::map<std::string, std::string> o;
    std::string error;
    if (!ParseOptions(rest, o, error))
        return {Err(error)};
    Via via;
    if (!ParseVia(o, via))
        return {Err("via must be auto, store, direct or silent")};
    const std::string mem = Get(o, "mem", "");
    EncodeResult encoded;
    bool report = false;
    if (verb == "DELIVER") {
        DeliverOptions d;
        d.from = Get(o, "from", d.from);
        d.alpha = Get(o, "alpha", "");
        d.timestamp = Get(o, "ts", d.timestamp);
        d.smsc = modem.Id().smsc;
        const std::string dcs = Get(o, "dcs", "auto");
        if (dcs == "7bit") d.coding = Coding::Gsm7;
        else if (dcs == "ucs2") d.coding = Coding::Ucs2;
        else if (dcs == "8bit") d.coding = Coding::Octets;
        else if (dcs != "auto") return {Err("dcs must be 7bit, ucs2, 8bit or auto")};
        if ((o.count("ref") && !ToInt(o["ref"], d.reference)) ||
            (o.count("refbits") && !ToInt(o["refbits"], d.refBits)) ||
            (o.count("partlen") && !ToInt(o["partlen"], d.partLength)) ||
            (o.count("class") && !ToInt(o["class"], d.messageClass)))
            return {Err("bad number")};
        if (!o.count("ref"))
            d.reference = modem.NextReference();
        if (!MessageText(o, d.text))
            return {Err("bad hex text")};
        encoded = EncodeDeliver(d);
        if (o.count("order") && encoded.error.empty() && !Reorder(o["order"], encoded.pdus))
            return {Err("order must list part numbers 1.." + std::to_string(encoded.pdus.size()) + ", comma-separated")};
    } else if (verb == "REPORT") {
        ReportOptions r;
        r.recipient = Get(o, "to", r.recipient);
        r.timestamp = Get(o, "ts", r.timestamp);
        r.discharge = Get(o, "dt", "");
        r.smsc = modem.Id().smsc;
        if (!o.count("mr") || !ToInt(o["mr"], r.reference) || (o.count("status") && !ToInt(o["status"], r.status)))
            return {Err("mr=<n> needed, status must be a number")};
        encoded = EncodeStatusReport(r);
        report = true;
    } else {
        const std::string type = Get(o, "type", "deliver");
        if (type != "deliver" && type != "report")
            return {Err("type must be deliver or report")};
        report = type == "report";
        if (Get(o, "empty", "0") == "1") {
            // A place that holds a header of length 0 and no PDU, as damaged entries read.
            encoded.pdus.push_back({"", 0});
        } else {
            const auto tpdu = FromHex(Get(o, "hex", ""));
            const auto sc = FromHex(Get(o, "sc", "00"));
            if (!tpdu || tpdu->empty())
                return {Err("hex=<tpdu> needed")};
            if (!sc || sc->empty() || sc->front() + 1u != sc->size())
                return {Err("sc must be a service-centre part: its length octet and that many octets")};
            encoded.pdus.push_back({ToHex(*sc) + ToHex(*tpdu), static_cast<int>(tpdu->size())});
        }
    }
    if (!encoded.error.empty())
        return {Err(encoded.error)};
    int at = -1;
    if (o.count("at") && (!ToInt(o["at"], at) || at < 0))
        return {Err("at must be a place number")};
    std::vector<std::string> lines;
    if (!modem.Deliver(encoded.pdus, report, via, mem, lines, error, at))
        return {Err(error)};
    return {Ok(lines)};
}

ControlResult Fault(Modem& modem, std::istringstream& in, const std::string& rest) {
    std::string kind;
    in >> kind;
    Faults& f = modem.Fault();
    int a = 0, b = 0;
    if (kind == "CLEAR") {
        f = Faults{};
        return {Ok()};
    }
    if (kind == "INJECT" || kind == "MUTE") {
        std::string line = rest.substr(rest.find(kind) + kind.size());
        if (!line.empty() && line[0] == ' ')
            line.erase(0, 1);
        if (line.empty())
            return {Err(kind + " needs a line")};
        (kind == "INJECT" ? f.inject : f.mute) = line;
        return {Ok()};
    }
    if (!(in >> a) || a < 0)
        return {Err("FAULT " + kind + " needs a count")};
    if (kind == "SILENT") f.silent = a;
    else if (kind == "WAKE") f.silent = a > 0 ? a - 1 : 0;
    else if (kind == "SIMBUSY") f.simBusy = a;
    else if (kind == "SIMWAIT") f.simWaitMs = a;
    else if (kind == "SLOW") f.slowMs = a;
    else if (kind == "CHUNK") {
        f.chunkBytes = a;
        f.chunkGapMs = (in >> b) ? b : 20;
    } else if (kind == "CMGS") {
        std::string mode = "prompt";
        in >> mode;
        if (mode != "prompt" && mode != "pdu" && mode != "noref" && mode != "noprompt" && mode != "silent" &&
            mode != "late" && mode != "restart" && mode != "restart-pdu")
            return {Err("CMGS mode must be prompt, pdu, noref, noprompt, silent, late, restart or restart-pdu")};
        if (mode == "late" && (!(in >> b) || b < 0))
            return {Err("CMGS late needs a delay in ms")};
        f.cmgsFailures = a;
        f.cmgsMode = mode;
        f.cmgsLateMs = mode == "late" ? b : 0;
    } else {
        return {Err("unknown fault " + kind)};
    }
    return {Ok()};
}

}  // namespace

ControlResult HandleControl(Modem& modem, const std::string& rawLine) {
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    const size_t restAt = line.find_first_not_of(' ', line.find(verb) + verb.size());
    const std::string rest = restAt == std::string::npos ? "" : line.substr(restAt);

    if (verb == "PING")
        return {Ok()};
    if (verb == "QUIT")
        return {Ok(), true};
    if (verb == "PROFILE") {
        const Profile* p = FindProfile(rest);
        if (!p)
            return {Err("unknown profile")};
        modem.SetProfile(*p);
        return {Ok()};
    }
    if (verb == "PIN") {
        std::string pin, word;
        int tries = Modem::PIN_TRIES;
        in >> pin;
        if (pin.rfind("tries=", 0) == 0) {
            word = pin;
            pin.clear();
        } else {
            in >> word;
        }
        if (!word.empty() && (word.rfind("tries=", 0) != 0 || !ToInt(word.substr(6), tries) || tries > 9))
            return {Err("PIN [<pin>] [tries=<0-9>]")};
        modem.SetPin(pin, tries);
        return {Ok()};
    }
    if (verb == "SET") {
        std::string key;
        in >> key;
        const size_t at = rest.find(' ');
        const std::string value = at == std::string::npos ? "" : rest.substr(at + 1);
        Identity& id = modem.Id();
        if (key == "manufacturer") id.manufacturer = value;
        else if (key == "model") id.model = value;
        else if (key == "imei") id.imei = value;
        else if (key == "imsi") id.imsi = value;
        else if (key == "revision") id.revision = value;
        else if (key == "operator") id.operatorName = value;
        else if (key == "smsc") id.smsc = value;
        else if (key == "mr") {
            int mr = 0;
            if (!ToInt(value, mr) || mr < 0 || mr > 255)
                return {Err("mr needs a message reference 0..255")};
            modem.SetNextMessageReference(mr);
        }
        else if (key == "ackwait" || key == "retrywait") {
            int ms = 0;
            if (!ToInt(value, ms) || ms < 0)
                return {Err(key + " needs milliseconds")};
            key == "ackwait" ? modem.SetAckWait(ms) : modem.SetRetryWait(ms);
        } else if (key == "phase2plus") {
            if (value != "0" && value != "1")
                return {Err("phase2plus needs 0 or 1")};
            modem.SetPhase2Plus(value == "1");
        }
        else if (key == "creg" || key == "cereg") {
            int stat = -1;
            if ((!value.empty() || key == "creg") && (!ToInt(value, stat) || stat > 10))
                return {Err(key + " needs a registration stat 0..10" + (key == "cereg" ? " or nothing" : ""))};
            (key == "creg" ? id.creg : id.cereg) = stat;
        } else if (key == "battery" || key == "signal") {
            int x = 0, y = 0;
            const size_t comma = value.find(',');
            if (comma == std::string::npos || !ToInt(value.substr(0, comma), x) || !ToInt(value.substr(comma + 1), y))
                return {Err(key + " needs <n>,<n>")};
            if (key == "battery") {
                id.bcs = x;
                id.bcl = y;
            } else {
                id.rssi = x;
                id.ber = y;
            }
        } else {
            return {Err("unknown key")};
        }
        return {Ok()};
    }
    if (verb == "DELIVER" || verb == "REPORT" || verb == "PDU")
        return Deliver(modem, verb, rest);
    if (verb == "RING") {
        std::map<std::string, std::string> o;
        std::string number, error;
        std::string words = rest;
        if (!words.empty() && words.find('=') == std::string::npos) {
            number = words;
            words.clear();
        } else if (!words.empty() && words.find(' ') != std::string::npos && words.find(' ') < words.find('=')) {
            number = words.substr(0, words.find(' '));
            words = words.substr(words.find(' ') + 1);
        }
        if (!ParseOptions(words, o, error))
            return {Err(error)};
        int count = 1;
        if (o.count("count") && (!ToInt(o["count"], count) || count < 1))
            return {Err("bad count")};
        for (int i = 0; i < count; ++i)
            modem.Ring(number);
        return {Ok()};
    }
    if (verb == "HANGUP") {
        modem.HangUp();
        return {Ok()};
    }
    if (verb == "UNSOLICITED") {
        if (rest.empty())
            return {Err("UNSOLICITED needs a line")};
        modem.Unsolicited(rest);
        return {Ok()};
    }
    if (verb == "FAULT")
        return Fault(modem, in, rest);
    if (verb == "STATE")
        return {Ok(modem.StateLines())};
    if (verb == "LIST") {
        std::vector<std::string> lines;
        if (!modem.ListLines(rest, lines))
            return {Err("unknown storage")};
        return {Ok(lines)};
    }
    if (verb == "CLEAR") {
        if (!modem.Clear(rest))
            return {Err("unknown storage")};
        return {Ok()};
    }
    if (verb == "RECORD") {
        if (rest == "CLEAR") {
            modem.ClearRecords();
            return {Ok()};
        }
        return {Ok(modem.Records())};
    }
    if (verb == "SUBMITTED") {
        std::vector<std::string> lines;
        for (const auto& r : modem.Records()) {
            if (r.find("\"kind\":\"pdu\"") != std::string::npos)
                lines.push_back(r);
        }
        return {Ok(lines)};
    }
    return {Err("unknown request")};
}

}  // namespace modemsim
