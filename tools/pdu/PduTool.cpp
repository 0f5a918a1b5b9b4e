#include "PduTool.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "pdu/SmsPdu.h"

namespace pdutool {
namespace {

const char* const USAGE =
    "usage: pellwick-pdu decode [HEX] [--stored-status N] | encode --to NUMBER (--text TEXT | "
    "--text-file FILE) [--kind N] [--report] | --help | --version";

const char* const HELP =
    "Decodes and encodes SMS PDUs as the gateway does.\n"
    "\n"
    "  decode HEX [--stored-status N]\n"
    "      Decodes one PDU (hex, starting with the service-centre length) to one JSON object.\n"
    "      Without HEX, decodes every line of standard input, one JSON object per line.\n"
    "      N is the store status of a PDU read with AT+CMGR: 0/1 received, 2/3 stored SUBMIT.\n"
    "  encode --to NUMBER (--text TEXT | --text-file FILE) [--kind N] [--report]\n"
    "      Prints the SMS-SUBMIT PDUs of a message, one per line. Kinds: 1 text, 2 long\n"
    "      (concatenated), 3 class 0, 4 marked ('^' as U+0001), 5 data. --report asks for a\n"
    "      status report.\n"
    "\n"
    "Exit status: 0 success, 2 bad input (one line on standard error).\n";

struct BadInput {
    std::string message;
};

int ToInt(const std::string& s, const char* what) {
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        throw BadInput{std::string(what) + " is not a number: " + s};
    return v;
}

// Value of the option at args[i]; moves i past it.
const std::string& OptionValue(const std::vector<std::string>& args, std::size_t& i) {
    if (i + 1 >= args.size()) throw BadInput{args[i] + " needs a value"};
    return args[++i];
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04X", u);
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

// ISO 8601 form of a decoded time stamp with its zone, or "" when it holds no date.
std::string IsoTime(const CSmsPdu& pdu) {
    const std::string& t = pdu.m_strTime;
    if (t.size() != 12 || t == "000101000000" ||
        !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    const int year = std::stoi(t.substr(0, 2));
    const int zone = pdu.m_nTimeZone < 0 ? -pdu.m_nTimeZone : pdu.m_nTimeZone;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%d-%.2s-%.2sT%.2s:%.2s:%.2s%c%02d:%02d", year < 70 ? 2000 + year : 1900 + year,
                  t.c_str() + 2, t.c_str() + 4, t.c_str() + 6, t.c_str() + 8, t.c_str() + 10,
                  pdu.m_nTimeZone < 0 ? '-' : '+', zone / 4, zone % 4 * 15);
    return buf;
}

// Decodes one PDU to its JSON line; a PDU that cannot be decoded throws its reason.
void DecodeOne(const std::string& hex, int storedStatus, std::ostream& out) {
    CSmsPdu pdu;
    pdu.m_strPduIn = hex;
    pdu.m_nStorageStatus = storedStatus;
    pdu.m_nReference = 0;
    if (pdu.Decode() != PDU_OK) throw BadInput{pdu.m_pszDecodeError};

    const std::string iso = IsoTime(pdu);
    out << "{\"phone\":" << JsonString(pdu.m_strPhone) << ",\"text\":" << JsonString(pdu.m_strText)
        << ",\"time\":" << JsonString(pdu.m_strTime)
        << ",\"time_iso\":" << (iso.empty() ? "null" : JsonString(iso)) << ",\"kind\":" << pdu.m_nKind
        << ",\"dcs\":" << pdu.m_nDcs << ",\"udl\":" << pdu.m_nUserDataLength
        << ",\"reference\":" << pdu.m_nReference << ",\"delivered\":" << pdu.m_bDelivered
        << ",\"concat\":";
    if (pdu.m_nConcatTotal > 0)
        out << "{\"ref\":" << pdu.m_nConcatRef << ",\"total\":" << pdu.m_nConcatTotal
            << ",\"seq\":" << pdu.m_nConcatSeq << "}";
    else
        out << "null";
    out << "}\n";
}

int Decode(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    std::string hex;
    bool given = false;  // an empty argument is a PDU too short to decode, not "read the input"
    int storedStatus = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--stored-status") {
            storedStatus = ToInt(OptionValue(args, i), "--stored-status");
        } else if (!given && !args[i].starts_with("--")) {
            hex = args[i];
            given = true;
        } else {
            throw BadInput{"unexpected argument: " + args[i]};
        }
    }
    if (given) {
        DecodeOne(hex, storedStatus, out);
        return 0;
    }
    // One PDU per line; a line that fails gives an error object in its place, so output line n
    // belongs to input line n, and its reason on standard error.
    int rc = 0;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        try {
            DecodeOne(line, storedStatus, out);
        } catch (const BadInput& e) {
            out << "{\"error\":" << JsonString(e.message) << "}\n";
            err << "pellwick-pdu: line " << number << ": " << e.message << '\n';
            rc = EXIT_BAD_INPUT;
        }
    }
    return rc;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BadInput{"cannot read " + path};
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A file ends with a line break by convention; it is not part of the message.
    if (text.ends_with("\r\n")) text.resize(text.size() - 2);
    else if (text.ends_with('\n')) text.pop_back();
    return text;
}

int Encode(const std::vector<std::string>& args, std::ostream& out) {
    std::string to, text;
    bool haveText = false, report = false;
    int kind = KIND_TEXT;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--to") {
            to = OptionValue(args, i);
        } else if (a == "--text" || a == "--text-file") {
            if (haveText) throw BadInput{"give either --text or --text-file, once"};
            const std::string& v = OptionValue(args, i);
            text = a == "--text" ? v : ReadTextFile(v);
            haveText = true;
        } else if (a == "--kind") {
            kind = ToInt(OptionValue(args, i), "--kind");
        } else if (a == "--report") {
            report = true;
        } else {
            throw BadInput{"unexpected argument: " + a};
        }
    }
    if (to.empty()) throw BadInput{"encode needs --to NUMBER"};
    if (!haveText) throw BadInput{"encode needs --text TEXT or --text-file FILE"};
    if (text.empty()) throw BadInput{"the text is empty"};
    if (kind < KIND_TEXT || kind > KIND_DATA) throw BadInput{"--kind must be 1 to 5"};

    CSmsPdu pdu;
    pdu.m_strPhone = to;
    pdu.m_strText = text;
    pdu.m_nKind = kind;
    pdu.m_bReportRequest = report ? 1 : 0;
    const int rc = kind == KIND_LONG ? pdu.EncodeLong() : pdu.EncodeText();
    if (rc == PDU_TOO_LONG) throw BadInput{"text too long: more than 64 segments"};
    if (rc == PDU_NO_ADDRESS) throw BadInput{"invalid phone number: " + to};
    if (rc != PDU_OK) throw BadInput{"cannot encode the message (" + std::to_string(rc) + ")"};
    for (int i = 0; i < pdu.m_nSegmentCount; ++i) out << pdu.m_pdusOut[static_cast<std::size_t>(i)] << '\n';
    return 0;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    try {
        if (args.empty()) throw BadInput{USAGE};
        if (args[0] == "--help" || args[0] == "-h") {
            out << USAGE << "\n\n" << HELP;
            return 0;
        }
        if (args[0] == "--version") {
            out << "pellwick-pdu " << PW_VERSION << '\n';
            return 0;
        }
        if (args[0] == "decode") return Decode(args, in, out, err);
        if (args[0] == "encode") return Encode(args, out);
        throw BadInput{"unknown command " + args[0] + "; " + USAGE};
    } catch (const BadInput& e) {
        err << "pellwick-pdu: " << e.message << '\n';
        return EXIT_BAD_INPUT;
    }
}

}  // namespace pdutool
