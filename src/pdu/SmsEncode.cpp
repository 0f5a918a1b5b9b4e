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

// One piece of user data ready for a PDU.
struct Piece {
    std::string hex;
    unsigned udl;  // septets (7-bit) or octets
};

// Cuts the text in its coding into pieces of at most `limit` septets/octets. A septet escape
// pair or a UTF-16 surrogate pair is never split between two pieces.
std::vector<Piece> CutPieces(const CSmsPdu& codec, const std::string& text, Coding coding,
                             bool markCarets, std::size_t limit, std::string& all) {
    std::vector<Piece> pieces;
    if (coding == Coding::Gsm7) {
        const Bytes units = TextToSeptets(text);
        all = BytesToHex(PackSeptetBits(units));
        std::size_t i = 0;
        do {
            std::size_t n = std::min(limit, units.size() - i);
            if (i + n < units.size() && n > 0 && units[i + n - 1] == gsm::ESCAPE) --n;
            Bytes part(units.begin() + static_cast<long>(i), units.begin() + static_cast<long>(i + n));
            pieces.push_back({BytesToHex(PackSeptetBits(part)), static_cast<unsigned>(n)});
            i += n;
        } while (i < units.size());
    } else if (coding == Coding::Ucs2) {
        std::u16string units = ToUtf16(DecodeUtf8(text));
        if (markCarets)
            for (auto& u : units)
                if (u == u'^') u = 0x0001;
        all.clear();
        for (char16_t u : units) {
            AppendHexOctet(all, u >> 8);
            AppendHexOctet(all, u & 0xFF);
        }
        const std::size_t perPiece = limit / 2;
        std::size_t i = 0;
        do {
            std::size_t n = std::min(perPiece, units.size() - i);
            if (i + n < units.size() && n > 1 && IsHighSurrogate(units[i + n - 1])) --n;
            pieces.push_back({all.substr(4 * i, 4 * n), static_cast<unsigned>(2 * n)});
            i += n;
        } while (i < units.size());
    } else {
        all = codec.TextToHex8(text);
        const std::size_t octets = all.size() / 2;
        std::size_t i = 0;
        do {
            const std::size_t n = std::min(limit, octets - i);
            pieces.push_back({all.substr(2 * i, 2 * n), static_cast<unsigned>(n)});
            i += n;
        } while (i < octets);
    }
    return pieces;
}

}  // namespace

int CSmsPdu::BuildHeader() {
    m_strHeader.clear();
    if (m_strPhone.empty()) return PDU_NO_ADDRESS;

    std::string digits;
    for (char c : m_strPhone)
        if (c != '+' && !IsNumberSeparator(c)) digits += c;
    const std::size_t digitCount = digits.size();
    if (digits.size() % 2) digits += 'F';

    unsigned first = TP_MTI_SUBMIT;
    if (m_bReportRequest) first |= TP_SRR;
    if (m_nValidityMinutes > 0) first |= TP_VPF_RELATIVE;
    if (m_bHeaderIndicator) first |= TP_UDHI;

    if (m_nPid < 0 || m_nPid > 255) m_nPid = 0;
    if (m_nDcs < 0 || m_nDcs > 255) {
        const int cls = ClassifyText(m_strText);
        unsigned dcs = (cls == ALPHABET_UCS2 || m_nKind == KIND_MARKED) ? DCS_UCS2
                       : cls == ALPHABET_GSM7                           ? DCS_GSM7
                                                                        : DCS_8BIT;
        if (m_nKind == KIND_CLASSED) dcs += DCS_CLASS0;
        m_nDcs = static_cast<int>(dcs);
    }

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
    const int report = m_bReportRequest;
    m_bReportRequest = 0;
    m_nDcs = PDU_AUTO;
    m_nPid = PDU_AUTO;
    m_bHeaderIndicator = 0;
    const int rc = BuildHeader();
    m_bReportRequest = report;
    if (rc != PDU_OK) return rc;
    const std::string plainHeader = m_strHeader;

    if (m_nKind == KIND_MARKED && m_strText.find('^') == std::string::npos) m_strText = "^" + m_strText + "^";

    const int cls = ClassifyText(m_strText);
    const Coding coding = (cls == ALPHABET_UCS2 || m_nKind == KIND_MARKED) ? Coding::Ucs2
                          : cls == ALPHABET_GSM7                           ? Coding::Gsm7
                                                                           : Coding::Data8;
    const std::size_t limit = coding == Coding::Gsm7 ? SEPTETS_PER_PDU : OCTETS_PER_PDU;
    const std::vector<Piece> pieces =
        CutPieces(*this, m_strText, coding, m_nKind == KIND_MARKED, limit, m_strUserData);
    if (pieces.size() > PDU_MAX_SEGMENTS) return PDU_TOO_LONG;

    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const bool last = i + 1 == pieces.size();
        if (last && report && BuildHeader() != PDU_OK) {
            ClearOutput(*this);
            return PDU_NO_ADDRESS;
        }
        std::string pdu = last && report ? m_strHeader : plainHeader;
        AppendHexOctet(pdu, pieces[i].udl);
        pdu += pieces[i].hex;
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

    std::string all;
    std::vector<Piece> pieces = CutPieces(*this, m_strText, coding, false, OCTETS_PER_PDU, all);
    if (pieces.size() > 1) pieces = CutPieces(*this, m_strText, coding, false, OCTETS_PER_PART, all);
    m_strUserData = all;
    if (pieces.size() > PDU_MAX_SEGMENTS) return PDU_TOO_LONG;

    if (pieces.size() == 1) {
        // A single segment needs no user-data header.
        m_bHeaderIndicator = 0;
        if ((rc = BuildHeader()) != PDU_OK) return rc;
        std::string pdu = m_strHeader;
        AppendHexOctet(pdu, pieces[0].udl);
        pdu += pieces[0].hex;
        m_segmentData.push_back(pieces[0].hex);
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
        std::string data = "0003";
        AppendHexOctet(data, reference);
        AppendHexOctet(data, total);
        AppendHexOctet(data, i + 1);
        data += pieces[i].hex;
        std::string pdu = last && report ? m_strHeader : plainHeader;
        AppendHexOctet(pdu, static_cast<unsigned>(data.size() / 2 + 1));
        pdu += "05";  // user-data-header length
        pdu += data;
        m_segmentData.push_back(std::move(data));
        m_pdusOut.push_back(std::move(pdu));
    }
    m_nSegmentCount = static_cast<int>(total);
    return PDU_OK;
}
