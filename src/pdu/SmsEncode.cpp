// SMS-SUBMIT encoding: the header, the plain encoding and the concatenated long encoding.
#include <atomic>

#include "pdu/GsmAlphabet.h"
#include "pdu/PduText.h"
#include "pdu/SmsPdu.h"

using namespace pdutext;

namespace {

// First-octet bits of an SMS-SUBMIT.
constexpr unsigned TP_MTI_SUBMIT = 0x01;
constexpr unsigned TP_VPF_RELATIVE = 0x10;
constexpr unsigned TP_SRR = 0x20;
constexpr unsigned TP_UDHI = 0x40;

constexpr unsigned TOA_INTERNATIONAL = 0x91;
constexpr std::size_t MAX_ADDRESS_DIGITS = 20;
constexpr unsigned TOA_UNKNOWN = 0x81;

constexpr unsigned DCS_GSM7 = 0x00;
constexpr unsigned DCS_8BIT = 0x04;
constexpr unsigned DCS_UCS2 = 0x08;
constexpr unsigned DCS_CLASS0 = 0x10;

// User data of one PDU: 140 octets, which hold 160 septets.
constexpr std::size_t OCTETS_PER_PDU = 140;
constexpr std::size_t SEPTETS_PER_PDU = 160;
// A concatenated segment starts with a 6-octet user-data header (length 05, element 00 03
// reference total sequence); 7-bit text follows after one fill bit, on a septet boundary.
constexpr std::size_t UDH_OCTETS = 6;
constexpr std::size_t UDH_SEPTETS = 7;
constexpr int UDH_FILL_BITS = 1;
constexpr std::size_t SEPTETS_PER_PART = SEPTETS_PER_PDU - UDH_SEPTETS;  // 153
constexpr std::size_t OCTETS_PER_PART = OCTETS_PER_PDU - UDH_OCTETS;     // 134

// Concatenation reference of the long encoding, shared by the whole process.
std::atomic<unsigned> g_concatReference{0x11};

// Relative TP-VP of a validity in minutes (positive).
unsigned RelativeValidity(int m) {
    long vp;
    if (m < 720) vp = m / 5 - 1;
    else if (m < 1440) vp = 143 + (m - 720) / 30;
    else if (m < 43200) vp = 166 + m / 1440;
    else if (m < 302400) vp = 192 + m / 10080;
    else vp = 255;
    return static_cast<unsigned>(vp < 0 ? 0 : vp > 255 ? 255 : vp);
}

// Characters people put between the digits of a number for readability.
bool IsNumberSeparator(char c) {
    return c == ' ' || c == '\t' || c == '-' || c == '.' || c == '(' || c == ')';
}

enum class Coding { Gsm7, Data8, Ucs2 };

Coding CodingOf(int cls, int kind) {
    if (cls == ALPHABET_UCS2 || kind == KIND_MARKED) return Coding::Ucs2;
    return cls == ALPHABET_GSM7 ? Coding::Gsm7 : Coding::Data8;
}

// The coding to try first: 8-bit for binary data, else 7-bit (which falls back to UCS2).
Coding FirstChoice(const std::string& text) {
    return text.find(BINARY_TOKEN) != std::string::npos ? Coding::Data8 : Coding::Gsm7;
}

unsigned DcsOf(Coding coding, int kind) {
    const unsigned dcs = coding == Coding::Ucs2 ? DCS_UCS2 : coding == Coding::Gsm7 ? DCS_GSM7 : DCS_8BIT;
    return kind == KIND_CLASSED ? dcs + DCS_CLASS0 : dcs;
}

// Units of one piece of user data: septets, octets or UTF-16 units, per PDU.
std::size_t UnitsPerPdu(Coding coding, bool concatenated) {
    if (coding == Coding::Gsm7) return concatenated ? SEPTETS_PER_PART : SEPTETS_PER_PDU;
    const std::size_t octets = concatenated ? OCTETS_PER_PART : OCTETS_PER_PDU;
    return coding == Coding::Ucs2 ? octets / 2 : octets;
}

// The text in its coding: one unit per septet, octet or UTF-16 unit, in a buffer reused from
// one message to the next. A 7-bit coding becomes UCS2 when a character has no septet (as
// CSmsPdu::ClassifyText decides), so the text is walked once in the common case.
std::u16string_view ToUnits(const std::string& text, Coding& coding, bool markCarets) {
    thread_local std::u16string buffer;
    if (buffer.size() < 2 * text.size()) buffer.resize(2 * text.size());  // at most 2 units a byte
    char16_t* const begin = buffer.data();
    char16_t* out = begin;
    if (coding == Coding::Gsm7) {
        const std::string_view view = text;
        for (std::size_t i = 0; i < view.size();) {
            const int s = NextSeptet(view, i);
            if (s == gsm::NONE) {
                coding = Coding::Ucs2;
                out = begin;
                break;
            }
            if (s & gsm::ESCAPED) *out++ = gsm::ESCAPE;
            *out++ = static_cast<char16_t>(s & 0x7F);
        }
        if (coding == Coding::Gsm7) return {begin, static_cast<std::size_t>(out - begin)};
    }
    for (std::size_t i = 0; i < text.size();) {
        const char32_t ch = NextChar(text, i);
        if (coding == Coding::Data8) {
            *out++ = static_cast<char16_t>(ch <= 0xFF ? ch : U'?');  // ISO 8859-1
        } else if (ch >= 0x10000) {
            *out++ = static_cast<char16_t>(0xD800 | (ch - 0x10000) >> 10);
            *out++ = static_cast<char16_t>(0xDC00 | (ch & 0x3FF));
        } else {
            *out++ = markCarets && ch == U'^' ? char16_t{0x0001} : static_cast<char16_t>(ch);
        }
    }
    return {begin, static_cast<std::size_t>(out - begin)};
}

// Appends the hex of n units; septets are packed least significant bit first after
// fillBits zero bits.
void AppendHex(std::string& out, Coding coding, const char16_t* u, std::size_t n, int fillBits = 0) {
    if (coding == Coding::Gsm7) {
        const std::size_t bits = static_cast<std::size_t>(fillBits) + n * 7;
        char* p = GrowBy(out, 2 * ((bits + 7) / 8));
        std::uint64_t acc = 0;  // bits not yet written, fewer than 8 between steps
        int have = fillBits;
        std::size_t k = 0;
        for (; k + 8 <= n; k += 8) {  // eight septets fill seven octets
            std::uint64_t block = 0;
            for (int j = 0; j < 8; ++j) block |= static_cast<std::uint64_t>(u[k + j] & 0x7F) << (7 * j);
            acc |= block << have;
            for (int j = 0; j < 7; ++j, p += 2, acc >>= 8) WriteHexOctet(p, acc & 0xFF);
        }
        for (; k < n; ++k) {
            acc |= static_cast<std::uint64_t>(u[k] & 0x7F) << have;
            have += 7;
            if (have >= 8) {
                WriteHexOctet(p, acc & 0xFF);
                p += 2;
                acc >>= 8;
                have -= 8;
            }
        }
        if (have > 0) WriteHexOctet(p, acc & 0xFF);
    } else if (coding == Coding::Ucs2) {
        char* p = GrowBy(out, 4 * n);
        for (std::size_t k = 0; k < n; ++k, p += 4) {
            WriteHexOctet(p, u[k] >> 8);
            WriteHexOctet(p + 2, u[k] & 0xFF);
        }
    } else {
        char* p = GrowBy(out, 2 * n);
        for (std::size_t k = 0; k < n; ++k, p += 2) WriteHexOctet(p, u[k]);
    }
}

struct Piece {
    std::size_t start, count;
};

// Cuts the units into pieces of at most perPiece units (at least one piece). A septet escape
// pair or a UTF-16 surrogate pair is never split between two pieces.
const std::vector<Piece>& Cut(std::u16string_view units, Coding coding, std::size_t perPiece) {
    thread_local std::vector<Piece> pieces;
    pieces.clear();
    std::size_t i = 0;
    do {
        std::size_t n = std::min(perPiece, units.size() - i);
        if (i + n < units.size() && n > 1) {
            const char16_t lastUnit = units[i + n - 1];
            if ((coding == Coding::Gsm7 && lastUnit == gsm::ESCAPE) ||
                (coding == Coding::Ucs2 && IsHighSurrogate(lastUnit)))
                --n;
        }
        pieces.push_back({i, n});
        i += n;
    } while (i < units.size());
    return pieces;
}

// Entry i of a list of strings, emptied; the strings of earlier messages are reused.
std::string& Slot(std::vector<std::string>& list, std::size_t i) {
    if (i == list.size()) list.emplace_back();
    list[i].clear();
    return list[i];
}

// Splits the text into SMS-SUBMIT PDUs in the given coding (7-bit falls back to UCS2 for a
// text it cannot hold): independent messages, or concatenated segments with the given
// reference. The kind decides the DCS message class and the marking of carets. Only the last
// PDU asks for a status report.
int EncodePdus(CSmsPdu& r, Coding coding, int kind, bool concatenate, unsigned reference) {
    r.m_nSegmentCount = 0;
    const std::u16string_view units = ToUnits(r.m_strText, coding, kind == KIND_MARKED);
    r.m_nDcs = static_cast<int>(DcsOf(coding, kind));
    r.m_nPid = 0;
    const bool single = units.size() <= UnitsPerPdu(coding, false);
    concatenate = concatenate && !single;
    const auto& pieces = Cut(units, coding, UnitsPerPdu(coding, concatenate));

    const int report = r.m_bReportRequest;
    r.m_bReportRequest = 0;
    r.m_bHeaderIndicator = concatenate ? 1 : 0;
    const int rc = r.BuildHeader();
    r.m_bReportRequest = report;
    if (rc != PDU_OK || pieces.size() > PDU_MAX_SEGMENTS) {
        r.m_strHeader.clear();
        r.m_pdusOut.clear();
        r.m_segmentData.clear();
        return rc != PDU_OK ? rc : PDU_TOO_LONG;
    }
    const std::string plainHeader = r.m_strHeader;
    if (report) {
        // The report request only sets TP-SRR in the first octet of the header.
        WriteHexOctet(r.m_strHeader.data() + 2, (HexDigit(plainHeader[2]) << 4 | HexDigit(plainHeader[3])) | TP_SRR);
    }

    // The whole user data, which the pieces are cut from; 7-bit segments after a header are
    // packed on their own, behind the header's fill bit.
    r.m_strUserData.clear();
    const bool packEachPiece = concatenate && coding == Coding::Gsm7;
    if (!packEachPiece) AppendHex(r.m_strUserData, coding, units.data(), units.size());
    const std::size_t digitsPerUnit = coding == Coding::Ucs2 ? 4 : 2;
    const std::size_t total = pieces.size();
    for (std::size_t i = 0; i < total; ++i) {
        const auto [start, count] = pieces[i];
        std::string& data = Slot(r.m_segmentData, i);
        unsigned udl = static_cast<unsigned>(coding == Coding::Ucs2 ? 2 * count : count);
        if (concatenate) {
            // Information element 00 (concatenation, 8-bit reference): reference, total, sequence.
            data = "0003";
            AppendHexOctet(data, reference);
            AppendHexOctet(data, static_cast<unsigned>(total));
            AppendHexOctet(data, static_cast<unsigned>(i + 1));
            if (coding == Coding::Gsm7) {
                AppendHex(data, coding, units.data() + start, count, UDH_FILL_BITS);
                udl += UDH_SEPTETS;
            } else {
                data.append(r.m_strUserData, start * digitsPerUnit, count * digitsPerUnit);
                udl += UDH_OCTETS;
            }
        } else if (coding != Coding::Gsm7) {
            data.assign(r.m_strUserData, start * digitsPerUnit, count * digitsPerUnit);
        } else if (start % 8 == 0 && (count % 8 == 0 || start + count == units.size())) {
            // 8 septets fill 7 octets. A piece ending inside an octet of the whole packing is
            // packed on its own, so that the next piece's bits do not become its fill bits.
            data.assign(r.m_strUserData, start / 8 * 14, 2 * ((count * 7 + 7) / 8));
        } else {
            AppendHex(data, coding, units.data() + start, count);
        }
        std::string& pdu = Slot(r.m_pdusOut, i);
        pdu.reserve(plainHeader.size() + 4 + data.size());
        pdu = i + 1 == total ? r.m_strHeader : plainHeader;
        AppendHexOctet(pdu, udl);
        if (concatenate) pdu += "05";  // user-data-header length
        pdu += data;
    }
    r.m_pdusOut.resize(total);
    r.m_segmentData.resize(total);
    r.m_nSegmentCount = static_cast<int>(total);
    return PDU_OK;
}

}  // namespace

int CSmsPdu::BuildHeader() {
    m_strHeader.clear();
    if (m_strPhone.empty()) return PDU_NO_ADDRESS;

    char digits[MAX_ADDRESS_DIGITS + 1];
    std::size_t digitCount = 0;
    for (char c : m_strPhone) {
        if (c == '+' || IsNumberSeparator(c)) continue;
        // An address holds at most 20 decimal digits; anything else cannot be written into
        // the PDU's semi-octets.
        if (c < '0' || c > '9' || digitCount == MAX_ADDRESS_DIGITS) return PDU_NO_ADDRESS;
        digits[digitCount++] = c;
    }
    if (digitCount == 0) return PDU_NO_ADDRESS;
    if (digitCount % 2) digits[digitCount] = 'F';

    unsigned first = TP_MTI_SUBMIT;
    if (m_bReportRequest) first |= TP_SRR;
    if (m_nValidityMinutes > 0) first |= TP_VPF_RELATIVE;
    if (m_bHeaderIndicator) first |= TP_UDHI;

    if (m_nPid < 0 || m_nPid > 255) m_nPid = 0;
    if (m_nDcs < 0 || m_nDcs > 255)
        m_nDcs = static_cast<int>(DcsOf(CodingOf(ClassifyText(m_strText), m_nKind), m_nKind));

    std::string& h = m_strHeader;
    h.reserve(20 + MAX_ADDRESS_DIGITS);
    h = "00";
    AppendHexOctet(h, first);
    h += "00";  // TP-MR: the modem assigns the reference
    AppendHexOctet(h, static_cast<unsigned>(digitCount));
    AppendHexOctet(h, m_strPhone.find('+') != std::string::npos ? TOA_INTERNATIONAL : TOA_UNKNOWN);
    for (std::size_t i = 0; i < digitCount; i += 2) {  // semi-octets swapped
        h += digits[i + 1];
        h += digits[i];
    }
    AppendHexOctet(h, static_cast<unsigned>(m_nPid));
    AppendHexOctet(h, static_cast<unsigned>(m_nDcs));
    // Without a validity the TP-VPF bits are clear, so no TP-VP octet may follow.
    if (m_nValidityMinutes > 0) AppendHexOctet(h, RelativeValidity(m_nValidityMinutes));
    return PDU_OK;
}

int CSmsPdu::EncodeText() {
    if (m_nKind == KIND_MARKED && m_strText.find('^') == std::string::npos) m_strText = "^" + m_strText + "^";
    const Coding coding = m_nKind == KIND_MARKED ? Coding::Ucs2 : FirstChoice(m_strText);
    return EncodePdus(*this, coding, m_nKind, false, 0);
}

int CSmsPdu::EncodeLong() {
    const unsigned reference = (g_concatReference.fetch_add(1) + 1) & 0xFF;
    // Long messages keep the text's own coding; only the 8-bit token asks for 8-bit data.
    return EncodePdus(*this, FirstChoice(m_strText), KIND_LONG, true, reference);
}
