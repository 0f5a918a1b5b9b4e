// Decoding of SMS-DELIVER, stored SMS-SUBMIT and SMS-STATUS-REPORT PDUs.
#include <string_view>

#include "pdu/PduText.h"
#include "pdu/SmsPdu.h"

using namespace pdutext;

namespace {

// First-octet fields.
constexpr int TP_MTI_MASK = 0x03;
constexpr int TP_MTI_SUBMIT = 0x01;
constexpr int TP_MTI_STATUS_BIT = 0x02;  // set for SMS-STATUS-REPORT (MTI 10)
constexpr int TP_VPF_SHIFT = 3;
constexpr int TP_UDHI = 0x40;

// Type-of-number field of an address type octet.
constexpr int TON_MASK = 0x70;
constexpr int TON_INTERNATIONAL = 0x10;
constexpr int TON_ALPHANUMERIC = 0x50;

// Concatenation information elements of a user-data header.
constexpr int IEI_CONCAT_8BIT = 0x00;
constexpr int IEI_CONCAT_16BIT = 0x08;

// A status report carries 15 octets after its address: SCTS (7), discharge time (7), TP-ST.
constexpr std::size_t STATUS_REPORT_OCTETS = 15;

constexpr const char* STORED_SUBMIT_TIME = "000101000000";

bool IsStoredSubmitStatus(int status) { return status == 2 || status == 3; }
bool IsReceivedStatus(int status) { return status == 0 || status == 1; }

// Octets taken by TP-VP for each TP-VPF value: none, enhanced, relative, absolute.
constexpr int VP_OCTETS[4] = {0, 7, 1, 7};

// Hex characters of `octets` octets from octet p, as far as the text reaches.
std::string HexField(const std::string& hex, std::size_t p, std::size_t octets) {
    const std::size_t start = 2 * p;
    if (start >= hex.size()) return {};
    std::size_t len = 2 * octets;
    if (len > hex.size() - start) len = (hex.size() - start) / 2 * 2;
    return hex.substr(start, len);
}

enum class Coding { Gsm7, Data8, Ucs2 };

// The alphabet of a data coding scheme, by its coding group.
Coding CodingOfDcs(int dcs) {
    const int group = dcs >> 4;
    if (group <= 0x7) {  // general data coding, with or without automatic deletion
        switch ((dcs >> 2) & 0x3) {
            case 0: return Coding::Gsm7;
            case 2: return Coding::Ucs2;
            default: return Coding::Data8;
        }
    }
    if (group == 0xE) return Coding::Ucs2;                   // message waiting, UCS2 store
    if (group == 0xF) return dcs & 0x04 ? Coding::Data8 : Coding::Gsm7;  // data coding/class
    return Coding::Gsm7;  // message waiting discard/store, and reserved groups
}

std::size_t CountPrintable(const std::u32string& chars) {
    std::size_t n = 0;
    for (char32_t ch : chars)
        if (ch >= 0x20 && ch <= 0x7F) ++n;
    return n;
}

}  // namespace

int CSmsPdu::ParseFields() {
    if (m_strPduWork.size() < 4) return PDU_TOO_SHORT;
    // Canonical upper-case hex: a character that is no hex digit reads as 0, so every field
    // copied out of the PDU (digits, time stamps) is made of hex digits only.
    const std::string w = BytesToHex(HexToBytes(m_strPduWork));

    std::size_t p = static_cast<std::size_t>(OctetAt(w, 0)) + 1;  // past the service centre
    const int first = OctetAt(w, p++);

    const bool statusReport = IsReceivedStatus(m_nStorageStatus) && (first & TP_MTI_STATUS_BIT);
    // A stored outgoing message, or an SMS-SUBMIT handed over without a store status.
    const bool submit = IsStoredSubmitStatus(m_nStorageStatus) ||
                        (!statusReport && IsReceivedStatus(m_nStorageStatus) &&
                         (first & TP_MTI_MASK) == TP_MTI_SUBMIT);
    if (statusReport) {
        m_nReference = OctetAt(w, p);
        m_nKind = KIND_STATUS_REPORT;
    }
    if (submit || statusReport) ++p;  // TP-MR

    const std::size_t digits = static_cast<std::size_t>(OctetAt(w, p));
    const int type = OctetAt(w, p + 1);
    const std::size_t addressOctets = (digits + 1) / 2;
    const std::string address = HexField(w, p + 2, addressOctets);
    if ((type & TON_MASK) == TON_ALPHANUMERIC) {
        // Alphanumeric originator: GSM 7-bit characters; the length counts semi-octets.
        m_strPhone = SeptetsToText(UnpackSeptetBits(HexToBytes(address), 0, digits * 4 / 7));
    } else {
        std::string number;
        for (char c : SwapSemiOctets(address))
            if (c != 'F' && c != 'f' && c != 'H' && c != 'h') number += c;
        m_strPhone = ((type & TON_MASK) == TON_INTERNATIONAL ? "+" : "") + number;
    }
    p += 2 + addressOctets;

    if (statusReport) {
        m_nUserDataLength = static_cast<int>(STATUS_REPORT_OCTETS);
        m_strUserData = HexField(w, p, STATUS_REPORT_OCTETS);
        return PDU_OK;
    }

    ++p;  // TP-PID
    m_nDcs = OctetAt(w, p++);
    if (submit) {
        m_strTime = STORED_SUBMIT_TIME;
        p += static_cast<std::size_t>(VP_OCTETS[(first >> TP_VPF_SHIFT) & 0x3]);
    } else {
        m_strTime = SwapSemiOctets(HexField(w, p, 6));
        p += 7;
    }

    m_nUserDataLength = OctetAt(w, p++);
    m_strUserData = HexField(w, p, static_cast<std::size_t>(m_nUserDataLength));

    if (first & TP_UDHI) {
        const std::size_t headerLength = static_cast<std::size_t>(OctetAt(m_strUserData, 0));
        m_strUserHeader = HexField(m_strUserData, 0, headerLength + 1);
        const Bytes h = HexToBytes(m_strUserHeader);
        for (std::size_t i = 1; i + 1 < h.size();) {
            const int iei = h[i];
            const std::size_t len = h[i + 1];
            const std::size_t data = i + 2;
            if (data + len > h.size()) break;
            if (iei == IEI_CONCAT_8BIT && len == 3) {
                m_nConcatRef = h[data];
                m_nConcatTotal = h[data + 1];
                m_nConcatSeq = h[data + 2];
            } else if (iei == IEI_CONCAT_16BIT && len == 4) {
                m_nConcatRef = h[data] << 8 | h[data + 1];
                m_nConcatTotal = h[data + 2];
                m_nConcatSeq = h[data + 3];
            }
            i = data + len;
        }
    }
    return PDU_OK;
}

int CSmsPdu::Decode() {
    m_strPhone.clear();
    m_strText.clear();
    m_strTime.clear();
    m_nKind = 0;
    m_nDcs = 0;
    m_nUserDataLength = 0;
    m_strUserData.clear();
    m_strUserHeader.clear();
    m_nConcatRef = m_nConcatTotal = m_nConcatSeq = 0;
    m_strPduWork = m_strPduIn;

    const int rc = ParseFields();
    if (rc != PDU_OK) return rc;

    if (m_nKind == KIND_STATUS_REPORT) {
        m_strText = SwapSemiOctets(HexField(m_strUserData, 7, 6));
        m_strTime = SwapSemiOctets(HexField(m_strUserData, 0, 6));
        const std::string status = HexField(m_strUserData, 14, 1);
        m_bDelivered = status == "00" ? 1 : 0;  // every other TP-ST counts as rejected
        m_strText += m_bDelivered ? " Delivered " : " Rejected ";
        return PDU_OK;
    }

    const Bytes data = HexToBytes(m_strUserData);
    const std::size_t headerOctets = m_strUserHeader.size() / 2;
    // Octet-aligned payload after the header (8-bit and UCS2).
    const std::string payloadHex = m_strUserData.substr(std::min(m_strUserData.size(), 2 * headerOctets));

    // 7-bit text starts at the first septet boundary after the header and its fill bits.
    const std::size_t headerSeptets = (headerOctets * 8 + 6) / 7;
    const std::size_t textSeptets =
        m_nUserDataLength > static_cast<int>(headerSeptets) ? m_nUserDataLength - headerSeptets : 0;
    auto sevenBitText = [&] { return SeptetsToText(UnpackSeptetBits(data, headerSeptets * 7, textSeptets)); };

    Coding coding = CodingOfDcs(m_nDcs);
    std::string text7;
    if (coding == Coding::Gsm7) {
        text7 = sevenBitText();
        // Some senders mark 8-bit data as 7-bit. Such user data holds TP-UDL whole octets,
        // more than TP-UDL septets need; then it is read as 8-bit when that reads better.
        // Packed 7-bit data never holds the extra octets, so short texts with accented
        // letters (whose octets may look like ASCII) stay 7-bit.
        const std::size_t septetOctets = (static_cast<std::size_t>(m_nUserDataLength) * 7 + 7) / 8;
        const std::string text8 = HexToText8(payloadHex);
        if (data.size() > septetOctets &&
            CountPrintable(DecodeUtf8(text8)) > CountPrintable(DecodeUtf8(text7))) {
            coding = Coding::Data8;
            m_nDcs |= 0x04;
        }
    }

    switch (coding) {
        case Coding::Ucs2: {
            const Bytes octets = HexToBytes(payloadHex);
            std::u16string units(octets.size() / 2, u'\0');
            bool marked = false;
            for (std::size_t i = 0; i < units.size(); ++i) {
                units[i] = static_cast<char16_t>(octets[2 * i] << 8 | octets[2 * i + 1]);
                if (units[i] == 0x0001) {
                    units[i] = u'^';
                    marked = true;
                }
            }
            m_nKind = marked ? KIND_MARKED : KIND_TEXT;
            m_strText = Utf16ToUtf8(units);
            break;
        }
        case Coding::Gsm7:
            m_nKind = KIND_TEXT;
            m_strText = std::move(text7);
            break;
        case Coding::Data8:
            m_nKind = KIND_DATA;
            m_strText = HexToText8(payloadHex);
            break;
    }
    if ((m_nDcs & 0xF0) == 0x10) m_nKind = KIND_CLASSED;
    return PDU_OK;
}
