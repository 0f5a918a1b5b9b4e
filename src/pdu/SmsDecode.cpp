// Decoding of SMS-DELIVER, stored SMS-SUBMIT and SMS-STATUS-REPORT PDUs.
#include <algorithm>
#include <string_view>

#include "pdu/GsmAlphabet.h"
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

bool IsPrintable(char32_t ch) { return ch >= 0x20 && ch <= 0x7F; }

// Characters of the 7-bit reading in U+0020..U+007F (an escape pair counts as its character).
std::size_t CountPrintable7(const Bytes& septets) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < septets.size(); ++i) {
        char32_t ch = GSM_TABLE[septets[i]];
        if (septets[i] == gsm::ESCAPE && i + 1 < septets.size()) {
            ++i;
            const char32_t ext = gsm::ExtensionChar(septets[i]);
            ch = ext ? ext : GSM_TABLE[septets[i]];
        }
        if (IsPrintable(ch)) ++n;
    }
    return n;
}

std::size_t CountPrintable8(const Bytes& octets) {
    return static_cast<std::size_t>(std::count_if(octets.begin(), octets.end(), IsPrintable));
}

}  // namespace

int CSmsPdu::ParseFields() {
    if (m_strPduWork.size() < 4) return PDU_TOO_SHORT;
    // Fields are copied out of canonical upper-case hex: a character that is no hex digit reads
    // as 0, so digits and time stamps are made of hex digits only.
    std::string canonical;
    const bool isCanonical = m_strPduWork.size() % 2 == 0 &&
                             std::all_of(m_strPduWork.begin(), m_strPduWork.end(), [](char c) {
                                 return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
                             });
    if (!isCanonical) canonical = BytesToHex(HexToBytes(m_strPduWork));
    const std::string& w = isCanonical ? m_strPduWork : canonical;

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

    const std::size_t octets = w.size() / 2;
    if (statusReport) {
        if (octets < p + STATUS_REPORT_OCTETS) return PDU_TOO_SHORT;
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
    // A truncated PDU lacks part of the user data its length announces.
    const std::size_t udl = static_cast<std::size_t>(m_nUserDataLength);
    if (octets < p + (CodingOfDcs(m_nDcs) == Coding::Gsm7 ? (udl * 7 + 7) / 8 : udl)) return PDU_TOO_SHORT;
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
    const std::size_t headerOctets = std::min(m_strUserHeader.size() / 2, data.size());
    // Octet-aligned payload after the header (8-bit and UCS2).
    const Bytes payload(data.begin() + static_cast<long>(headerOctets), data.end());

    Coding coding = CodingOfDcs(m_nDcs);
    Bytes septets;
    if (coding == Coding::Gsm7) {
        // 7-bit text starts at the first septet boundary after the header and its fill bits.
        const std::size_t headerSeptets = (headerOctets * 8 + 6) / 7;
        const std::size_t udl = static_cast<std::size_t>(m_nUserDataLength);
        septets = UnpackSeptetBits(data, headerSeptets * 7, udl > headerSeptets ? udl - headerSeptets : 0);
        // Some senders mark 8-bit data as 7-bit. Such user data holds TP-UDL whole octets,
        // more than TP-UDL septets need; it is then read as 8-bit when that reads better.
        // Packed 7-bit data never holds the extra octets, so a short text with accented letters
        // (whose octets may look like ASCII) stays 7-bit.
        if (data.size() > (udl * 7 + 7) / 8 && CountPrintable8(payload) > CountPrintable7(septets)) {
            coding = Coding::Data8;
            m_nDcs |= 0x04;
        }
    }

    switch (coding) {
        case Coding::Ucs2: {
            std::u16string units(payload.size() / 2, u'\0');
            bool marked = false;
            for (std::size_t i = 0; i < units.size(); ++i) {
                units[i] = static_cast<char16_t>(payload[2 * i] << 8 | payload[2 * i + 1]);
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
            m_strText = SeptetsToText(septets);
            break;
        case Coding::Data8:
            m_nKind = KIND_DATA;
            m_strText.reserve(payload.size());
            for (auto b : payload) AppendUtf8(m_strText, b);
            break;
    }
    if ((m_nDcs & 0xF0) == 0x10) m_nKind = KIND_CLASSED;
    return PDU_OK;
}
