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

// Payload octets of one PDU: 160 septets or 140 octets.
constexpr std::size_t SEPTETS_PER_PDU = 160;
constexpr std::size_t OCTETS_PER_PDU = 140;
// A concatenated segment leaves 134 octets after its 6-octet user-data header.
constexpr std::size_t OCTETS_PER_PART = 134;

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

unsigned DcsOf(Coding coding, int kind) {
    const unsigned dcs = coding == Coding::Ucs2 ? DCS_UCS2 : coding == Coding::Gsm7 ? DCS_GSM7 : DCS_8BIT;
    return kind == KIND_CLASSED ? dcs + DCS_CLASS0 : dcs;
}

// The text in its coding: one unit per septet, octet or UTF-16 unit.
struct UserData {
    Coding coding;
    std::u16string units;

    UserData(const std::string& text, Coding c, bool markCarets) : coding(c) {
        units.reserve(text.size());
        if (coding == Coding::Gsm7) {
            const Bytes septets = TextToSeptets(text);
            units.assign(septets.begin(), septets.end());
        } else if (coding == Coding::Data8) {
            // ISO 8859-1: a character above U+00FF has no octet.
            units.resize(text.size());
            std::size_t n = 0;
            for (std::size_t i = 0; i < text.size();) {
                const char32_t ch = NextChar(text, i);
                units[n++] = static_cast<char16_t>(ch <= 0xFF ? ch : U'?');
            }
            units.resize(n);
        } else {
            units = ToUtf16(DecodeUtf8(text));
            if (markCarets)
                for (auto& u : units)
                    if (u == u'^') u = 0x0001;
        }
    }

    std::size_t Octets() const {
        const std::size_t n = units.size();
        return coding == Coding::Gsm7 ? (n * 7 + 7) / 8 : coding == Coding::Ucs2 ? 2 * n : n;
    }

    // TP-UDL of n units: septets on the 7-bit path, octets otherwise.
    unsigned Length(std::size_t n) const { return static_cast<unsigned>(coding == Coding::Ucs2 ? 2 * n : n); }

    // Appends the hex of units [i, i + n).
    void AppendHex(std::string& out, std::size_t i, std::size_t n) const {
        if (coding == Coding::Gsm7) {
            // Septets packed least significant bit first from the piece's own first octet.
            char* p = GrowBy(out, 2 * ((n * 7 + 7) / 8));
            unsigned acc = 0;
            int bits = 0;
            for (std::size_t k = i; k < i + n; ++k) {
                acc |= static_cast<unsigned>(units[k] & 0x7F) << bits;
                bits += 7;
                if (bits >= 8) {
                    WriteHexOctet(p, acc & 0xFF);
                    p += 2;
                    acc >>= 8;
                    bits -= 8;
                }
            }
            if (bits > 0) WriteHexOctet(p, acc & 0xFF);
        } else if (coding == Coding::Ucs2) {
            char* p = GrowBy(out, 4 * n);
            for (std::size_t k = i; k < i + n; ++k, p += 4) {
                WriteHexOctet(p, units[k] >> 8);
                WriteHexOctet(p + 2, units[k] & 0xFF);
            }
        } else {
            char* p = GrowBy(out, 2 * n);
            for (std::size_t k = i; k < i + n; ++k, p += 2) WriteHexOctet(p, units[k]);
        }
    }

    // Appends the hex of units [i, i + n), taken from `all` (the hex of every unit) when the
    // piece starts on an octet boundary there.
    void AppendPiece(std::string& out, const std::string& all, std::size_t i, std::size_t n) const {
        if (coding != Coding::Gsm7) {
            const std::size_t digits = coding == Coding::Ucs2 ? 4 : 2;
            out.append(all, i * digits, n * digits);
        } else if (i % 8 == 0) {
            out.append(all, i / 8 * 14, 2 * ((n * 7 + 7) / 8));
        } else {
            AppendHex(out, i, n);
        }
    }

    // Start and size of each piece of at most perPiece units (at least one piece). A septet
    // escape pair or a UTF-16 surrogate pair is never split between two pieces.
    std::vector<std::pair<std::size_t, std::size_t>> Cut(std::size_t perPiece) const {
        std::vector<std::pair<std::size_t, std::size_t>> pieces;
        std::size_t i = 0;
        do {
            std::size_t n = std::min(perPiece, units.size() - i);
            if (i + n < units.size() && n > 1) {
                const char16_t lastUnit = units[i + n - 1];
                if ((coding == Coding::Gsm7 && lastUnit == gsm::ESCAPE) ||
                    (coding == Coding::Ucs2 && IsHighSurrogate(lastUnit)))
                    --n;
            }
            pieces.emplace_back(i, n);
            i += n;
        } while (i < units.size());
        return pieces;
    }
};

}  // namespace

int CSmsPdu::BuildHeader() {
    m_strHeader.clear();
    if (m_strPhone.empty()) return PDU_NO_ADDRESS;

    std::string digits;
    for (char c : m_strPhone)
        if (c != '+' && !IsNumberSeparator(c)) digits += c;
    const std::size_t digitCount = digits.size();
    // An address holds at most 20 digits; a longer one cannot be written into the PDU.
    if (digitCount > MAX_ADDRESS_DIGITS) return PDU_NO_ADDRESS;
    if (digits.size() % 2) digits += 'F';

    unsigned first = TP_MTI_SUBMIT;
    if (m_bReportRequest) first |= TP_SRR;
    if (m_nValidityMinutes > 0) first |= TP_VPF_RELATIVE;
    if (m_bHeaderIndicator) first |= TP_UDHI;

    if (m_nPid < 0 || m_nPid > 255) m_nPid = 0;
    if (m_nDcs < 0 || m_nDcs > 255)
        m_nDcs = static_cast<int>(DcsOf(CodingOf(ClassifyText(m_strText), m_nKind), m_nKind));

    std::string h = "00";
    AppendHexOctet(h, first);
    h += "00";  // TP-MR: the modem assigns the reference
    AppendHexOctet(h, static_cast<unsigned>(digitCount));
    AppendHexOctet(h, m_strPhone.find('+') != std::string::npos ? TOA_INTERNATIONAL : TOA_UNKNOWN);
    h += SwapSemiOctets(digits);
    AppendHexOctet(h, static_cast<unsigned>(m_nPid));
    AppendHexOctet(h, static_cast<unsigned>(m_nDcs));
    // Without a validity the TP-VPF bits are clear, so no TP-VP octet may follow.
    if (m_nValidityMinutes > 0) AppendHexOctet(h, RelativeValidity(m_nValidityMinutes));
    m_strHeader = std::move(h);
    return PDU_OK;
}

namespace {

void ClearOutput(CSmsPdu& r) {
    r.m_nSegmentCount = 0;
    r.m_pdusOut.clear();
    r.m_segmentData.clear();
}

}  // namespace

int CSmsPdu::EncodeText() {
    ClearOutput(*this);
    if (m_nKind == KIND_MARKED && m_strText.find('^') == std::string::npos) m_strText = "^" + m_strText + "^";
    const Coding coding = CodingOf(ClassifyText(m_strText), m_nKind);

    const int report = m_bReportRequest;
    m_bReportRequest = 0;
    m_nDcs = static_cast<int>(DcsOf(coding, m_nKind));
    m_nPid = 0;
    m_bHeaderIndicator = 0;
    const int rc = BuildHeader();
    m_bReportRequest = report;
    if (rc != PDU_OK) return rc;
    const std::string plainHeader = m_strHeader;

    const UserData ud(m_strText, coding, m_nKind == KIND_MARKED);
    m_strUserData.clear();
    ud.AppendHex(m_strUserData, 0, ud.units.size());  // whole user data; pieces are cut from it
    const auto pieces = ud.Cut(coding == Coding::Gsm7 ? SEPTETS_PER_PDU : coding == Coding::Ucs2 ? OCTETS_PER_PDU / 2
                                                                                                   : OCTETS_PER_PDU);
    if (pieces.size() > PDU_MAX_SEGMENTS) return PDU_TOO_LONG;

    m_pdusOut.reserve(pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const bool last = i + 1 == pieces.size();
        if (last && report && BuildHeader() != PDU_OK) {
            ClearOutput(*this);
            return PDU_NO_ADDRESS;
        }
        const auto [start, count] = pieces[i];
        std::string pdu;
        pdu.reserve(plainHeader.size() + 2 + 2 * OCTETS_PER_PDU);
        pdu = last && report ? m_strHeader : plainHeader;
        AppendHexOctet(pdu, ud.Length(count));
        ud.AppendPiece(pdu, m_strUserData, start, count);
        m_pdusOut.push_back(std::move(pdu));
    }
    m_nSegmentCount = static_cast<int>(m_pdusOut.size());
    return PDU_OK;
}

int CSmsPdu::EncodeLong() {
    ClearOutput(*this);
    const unsigned reference = (g_concatReference.fetch_add(1) + 1) & 0xFF;

    m_nPid = 0;
    m_bHeaderIndicator = 1;
    const bool ucs2 = ClassifyText(m_strText) == ALPHABET_UCS2;
    m_nDcs = static_cast<int>(ucs2 ? DCS_UCS2 : DCS_8BIT);
    const Coding coding = ucs2 ? Coding::Ucs2 : Coding::Data8;

    const int report = m_bReportRequest;
    m_bReportRequest = 0;
    int rc = BuildHeader();
    m_bReportRequest = report;
    if (rc != PDU_OK) return rc;

    const UserData ud(m_strText, coding, false);
    m_strUserData.clear();
    ud.AppendHex(m_strUserData, 0, ud.units.size());
    const std::size_t unitOctets = coding == Coding::Ucs2 ? 2 : 1;
    const auto pieces = ud.Cut((ud.Octets() <= OCTETS_PER_PDU ? OCTETS_PER_PDU : OCTETS_PER_PART) / unitOctets);
    if (pieces.size() > PDU_MAX_SEGMENTS) return PDU_TOO_LONG;

    if (pieces.size() == 1) {
        // A single segment needs no user-data header.
        m_bHeaderIndicator = 0;
        if ((rc = BuildHeader()) != PDU_OK) return rc;
        std::string pdu = m_strHeader;
        AppendHexOctet(pdu, ud.Length(ud.units.size()));
        pdu += m_strUserData;
        m_segmentData.push_back(m_strUserData);
        m_pdusOut.push_back(std::move(pdu));
        m_nSegmentCount = 1;
        return PDU_OK;
    }

    const std::string plainHeader = m_strHeader;
    const unsigned total = static_cast<unsigned>(pieces.size());
    for (unsigned i = 0; i < total; ++i) {
        const bool last = i + 1 == total;
        if (last && report && BuildHeader() != PDU_OK) {
            ClearOutput(*this);
            return PDU_NO_ADDRESS;
        }
        // Information element 00 (concatenation, 8-bit reference): reference, total, sequence.
        std::string data;
        data.reserve(2 * (5 + OCTETS_PER_PART));
        data = "0003";
        AppendHexOctet(data, reference);
        AppendHexOctet(data, total);
        AppendHexOctet(data, i + 1);
        ud.AppendPiece(data, m_strUserData, pieces[i].first, pieces[i].second);
        std::string pdu;
        pdu.reserve(plainHeader.size() + 4 + data.size());
        pdu = last && report ? m_strHeader : plainHeader;
        AppendHexOctet(pdu, static_cast<unsigned>(data.size() / 2 + 1));
        pdu += "05";  // user-data-header length
        pdu += data;
        m_segmentData.push_back(std::move(data));
        m_pdusOut.push_back(std::move(pdu));
    }
    m_nSegmentCount = static_cast<int>(total);
    return PDU_OK;
}
