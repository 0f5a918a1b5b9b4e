// Decoding of SMS-DELIVER, stored SMS-SUBMIT and SMS-STATUS-REPORT PDUs.
#include <algorithm>
#include <array>

#include "pdu/GsmAlphabet.h"
#include "pdu/PduText.h"
#include "pdu/SmsPdu.h"

using namespace pdutext;

namespace {

// First-octet fields.
constexpr int TP_MTI_MASK = 0x03;
constexpr int TP_MTI_SUBMIT = 0x01;
constexpr int TP_MTI_STATUS_BIT = 0x02;  // set for SMS-STATUS-REPORT (MTI 10)
constexpr int TP_MTI_RESERVED = 0x03;
// An address value holds at most 10 octets, 20 semi-octets.
constexpr std::size_t MAX_ADDRESS_DIGITS = 20;
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
constexpr std::size_t TIME_STAMP_OCTETS = 7;

constexpr const char* STORED_SUBMIT_TIME = "000101000000";

// No SMS PDU comes near this size (at most 176 octets with the longest service-centre
// address); anything longer is not a PDU.
constexpr std::size_t MAX_PDU_OCTETS = 256;

bool IsStoredSubmitStatus(int status) { return status == 2 || status == 3; }
bool IsReceivedStatus(int status) { return status == 0 || status == 1; }

// Octets taken by TP-VP for each TP-VPF value: none, enhanced, relative, absolute.
constexpr int VP_OCTETS[4] = {0, 7, 1, 7};

// Value of each character as a hex digit, with LOWER added for a-f and BAD for a character
// that is no hex digit.
constexpr std::uint8_t LOWER = 0x10, BAD = 0x20;
constexpr std::array<std::uint8_t, 256> HEX_CHECK = [] {
    std::array<std::uint8_t, 256> v{};
    for (auto& x : v) x = BAD;
    for (int d = 0; d < 10; ++d) v['0' + d] = static_cast<std::uint8_t>(d);
    for (int d = 0; d < 6; ++d) {
        v['A' + d] = static_cast<std::uint8_t>(10 + d);
        v['a' + d] = static_cast<std::uint8_t>(LOWER | (10 + d));
    }
    return v;
}();

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

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
std::size_t CountPrintable7(const std::uint8_t* septets, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        char32_t ch = GSM_TABLE[septets[i]];
        if (septets[i] == gsm::ESCAPE && i + 1 < n) {
            ++i;
            const char32_t ext = gsm::ExtensionChar(septets[i]);
            ch = ext ? ext : GSM_TABLE[septets[i]];
        }
        if (IsPrintable(ch)) ++count;
    }
    return count;
}

// The octets of a PDU and where its user data lies.
struct Walk {
    std::array<std::uint8_t, MAX_PDU_OCTETS> octets;
    std::size_t userData = 0;        // first octet of TP-UD
    std::size_t userDataOctets = 0;  // octets of TP-UD present, at most TP-UDL
    std::size_t headerOctets = 0;    // user-data header with its length octet
    Coding coding = Coding::Gsm7;
};

int Refuse(CSmsPdu& r, const char* why) {
    r.m_pszDecodeError = why;
    return PDU_MALFORMED;
}

// Writes the 12 digits of the first six octets of a time stamp, semi-octets swapped.
void TimeStamp(std::string& out, const std::uint8_t* o) {
    out.resize(12);
    for (std::size_t i = 0; i < 6; ++i) {
        out[2 * i] = HEX_DIGITS[o[i] & 0xF];
        out[2 * i + 1] = HEX_DIGITS[o[i] >> 4];
    }
}

// Offset from UTC in quarters of an hour of a time-zone octet: two swapped decimal digits,
// bit 3 the sign. Some senders write the digits unswapped (08 for +2 hours, which swapped
// would read as minus zero); a value that is no zone is read that way, else as UTC.
int TimeZone(std::uint8_t octet) {
    constexpr int MAX_QUARTERS = 14 * 4;
    const int units = octet >> 4, quarters = (octet & 0x07) * 10 + units;
    const bool negative = octet & 0x08;
    if (units < 10 && quarters <= MAX_QUARTERS && (quarters > 0 || !negative)) return negative ? -quarters : quarters;
    const int unswappedUnits = octet & 0x0F, unswapped = (octet >> 4 & 0x07) * 10 + unswappedUnits;
    if (unswappedUnits < 10 && unswapped <= MAX_QUARTERS) return octet & 0x80 ? -unswapped : unswapped;
    return 0;
}

// Writes n octets as upper-case hex, or copies them from the PDU hex when that is upper case.
void OctetsHex(std::string& out, const std::string& pduHex, bool upper, const std::uint8_t* o, std::size_t at,
               std::size_t n) {
    if (upper) {
        out.assign(pduHex, 2 * at, 2 * n);
        return;
    }
    out.resize(2 * n);
    for (std::size_t i = 0; i < n; ++i) WriteHexOctet(out.data() + 2 * i, o[at + i]);
}

// Walks the fields of r.m_strPduWork, filling the record's address, time stamp, DCS, TP-UDL,
// raw user data and header fields. Every field must lie wholly inside the PDU.
int WalkFields(CSmsPdu& r, Walk& w) {
    r.m_pszDecodeError = "";
    const std::string& hex = r.m_strPduWork;
    if (hex.size() < 4) {
        r.m_pszDecodeError = "PDU shorter than two octets";
        return PDU_TOO_SHORT;
    }
    if (hex.size() % 2) return Refuse(r, "PDU hex has an odd number of digits");
    const std::size_t n = hex.size() / 2;
    if (n > MAX_PDU_OCTETS) return Refuse(r, "PDU longer than any SMS");
    std::uint8_t flags = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint8_t hi = HEX_CHECK[static_cast<unsigned char>(hex[2 * k])];
        const std::uint8_t lo = HEX_CHECK[static_cast<unsigned char>(hex[2 * k + 1])];
        flags |= hi | lo;
        w.octets[k] = static_cast<std::uint8_t>((hi & 0xF) << 4 | (lo & 0xF));
    }
    if (flags & BAD) return Refuse(r, "PDU holds characters that are not hex digits");
    const bool upper = !(flags & LOWER);
    const std::uint8_t* o = w.octets.data();

    std::size_t p = std::size_t{o[0]} + 1;  // past the service centre
    if (p >= n) return Refuse(r, "service-centre address runs past the end of the PDU");
    const int first = o[p++];
    if ((first & TP_MTI_MASK) == TP_MTI_RESERVED) return Refuse(r, "reserved message type");

    const bool statusReport = IsReceivedStatus(r.m_nStorageStatus) && (first & TP_MTI_STATUS_BIT);
    // A stored outgoing message, or an SMS-SUBMIT handed over without a store status.
    const bool submit = IsStoredSubmitStatus(r.m_nStorageStatus) ||
                        (!statusReport && IsReceivedStatus(r.m_nStorageStatus) &&
                         (first & TP_MTI_MASK) == TP_MTI_SUBMIT);
    std::size_t reference = 0;  // TP-MR, kept only for a status report
    if (submit || statusReport) {
        if (p >= n) return Refuse(r, "PDU ends before its message reference");
        reference = o[p++];
    }

    if (p + 2 > n) return Refuse(r, "PDU ends before its address");
    const std::size_t digits = o[p];
    const int type = o[p + 1];
    if (digits > MAX_ADDRESS_DIGITS) return Refuse(r, "address announces more than 20 digits");
    const std::size_t addressOctets = (digits + 1) / 2;
    p += 2;
    if (p + addressOctets > n) return Refuse(r, "address length runs past the end of the PDU");
    r.m_strPhone.clear();
    if ((type & TON_MASK) == TON_ALPHANUMERIC) {
        // Alphanumeric originator: GSM 7-bit characters; the length counts semi-octets.
        const Bytes septets = UnpackSeptetBits(Bytes(o + p, o + p + addressOctets), 0, digits * 4 / 7);
        SeptetsToText(septets.data(), septets.size(), r.m_strPhone);
    } else {
        if ((type & TON_MASK) == TON_INTERNATIONAL) r.m_strPhone += '+';
        // Exactly the announced digits; a filler nibble is never a digit.
        for (std::size_t k = 0; k < digits; ++k) {
            const int nibble = k % 2 ? o[p + k / 2] >> 4 : o[p + k / 2] & 0xF;
            if (nibble != 0xF) r.m_strPhone += HEX_DIGITS[nibble];
        }
    }
    p += addressOctets;

    if (statusReport) {
        if (p + STATUS_REPORT_OCTETS > n) return Refuse(r, "status report ends before its status octet");
        r.m_nKind = KIND_STATUS_REPORT;
        r.m_nReference = static_cast<int>(reference);
        r.m_nUserDataLength = static_cast<int>(STATUS_REPORT_OCTETS);
        OctetsHex(r.m_strUserData, hex, upper, o, p, STATUS_REPORT_OCTETS);
        w.userData = p;
        w.userDataOctets = STATUS_REPORT_OCTETS;
        return PDU_OK;
    }

    if (p + 2 > n) return Refuse(r, "PDU ends before its protocol identifier and coding scheme");
    ++p;  // TP-PID
    r.m_nDcs = o[p++];
    if (submit) {
        const auto vp = static_cast<std::size_t>(VP_OCTETS[(first >> TP_VPF_SHIFT) & 0x3]);
        if (p + vp > n) return Refuse(r, "PDU ends inside its validity period");
        r.m_strTime = STORED_SUBMIT_TIME;
        p += vp;
    } else {
        if (p + TIME_STAMP_OCTETS > n) return Refuse(r, "time stamp is cut short");
        TimeStamp(r.m_strTime, o + p);
        r.m_nTimeZone = TimeZone(o[p + 6]);
        p += TIME_STAMP_OCTETS;
    }

    if (p >= n) return Refuse(r, "PDU ends before its user-data length");
    const std::size_t udl = o[p++];
    r.m_nUserDataLength = static_cast<int>(udl);
    w.coding = CodingOfDcs(r.m_nDcs);
    // TP-UDL counts septets for 7-bit data and octets otherwise.
    const std::size_t needed = w.coding == Coding::Gsm7 ? (udl * 7 + 7) / 8 : udl;
    if (p + needed > n) return Refuse(r, "user data is shorter than its length announces");
    w.userData = p;
    w.userDataOctets = std::min(udl, n - p);  // 8-bit data marked as 7-bit holds TP-UDL octets
    OctetsHex(r.m_strUserData, hex, upper, o, p, w.userDataOctets);

    if (first & TP_UDHI) {
        w.headerOctets = needed ? std::size_t{o[p]} + 1 : 0;
        const bool fits = w.coding == Coding::Gsm7 ? w.headerOctets * 8 <= udl * 7 : w.headerOctets <= udl;
        if (!needed || !fits) return Refuse(r, "user-data header runs past the user data");
        OctetsHex(r.m_strUserHeader, hex, upper, o, p, w.headerOctets);
        const std::uint8_t* h = o + p;
        for (std::size_t i = 1; i + 1 < w.headerOctets;) {
            const int iei = h[i];
            const std::size_t len = h[i + 1];
            const std::size_t data = i + 2;
            if (data + len > w.headerOctets) break;
            if (iei == IEI_CONCAT_8BIT && len == 3) {
                r.m_nConcatRef = h[data];
                r.m_nConcatTotal = h[data + 1];
                r.m_nConcatSeq = h[data + 2];
            } else if (iei == IEI_CONCAT_16BIT && len == 4) {
                r.m_nConcatRef = h[data] << 8 | h[data + 1];
                r.m_nConcatTotal = h[data + 2];
                r.m_nConcatSeq = h[data + 3];
            }
            i = data + len;
        }
    }
    return PDU_OK;
}

// UTF-8 of big-endian UTF-16 octets, ending at a U+0000; U+0001 becomes '^'. Returns
// whether a U+0001 was seen.
bool Ucs2ToText(const std::uint8_t* o, std::size_t units, std::string& out) {
    out.resize(3 * units);  // a unit takes at most 3 bytes, a surrogate pair 4
    char* p = out.data();
    bool marked = false;
    for (std::size_t i = 0; i < units; ++i) {
        char32_t ch = static_cast<char32_t>(o[2 * i] << 8 | o[2 * i + 1]);
        if (ch == 0) break;
        if (ch == 0x0001) {
            ch = U'^';
            marked = true;
        } else if (ch >= 0xD800 && ch <= 0xDFFF) {
            const char32_t low = i + 1 < units ? static_cast<char32_t>(o[2 * i + 2] << 8 | o[2 * i + 3]) : 0;
            if (ch <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
                ch = 0x10000 + ((ch - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                ch = 0xFFFD;  // unpaired surrogate
            }
        }
        if (ch < 0x80) {
            *p++ = static_cast<char>(ch);
        } else if (ch < 0x800) {
            *p++ = static_cast<char>(0xC0 | ch >> 6);
            *p++ = static_cast<char>(0x80 | (ch & 0x3F));
        } else if (ch < 0x10000) {
            *p++ = static_cast<char>(0xE0 | ch >> 12);
            *p++ = static_cast<char>(0x80 | (ch >> 6 & 0x3F));
            *p++ = static_cast<char>(0x80 | (ch & 0x3F));
        } else {
            *p++ = static_cast<char>(0xF0 | ch >> 18);
            *p++ = static_cast<char>(0x80 | (ch >> 12 & 0x3F));
            *p++ = static_cast<char>(0x80 | (ch >> 6 & 0x3F));
            *p++ = static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return marked;
}

}  // namespace

int CSmsPdu::ParseFields() {
    Walk w;
    return WalkFields(*this, w);
}

int CSmsPdu::Decode() {
    m_strPhone.clear();
    m_strText.clear();
    m_strTime.clear();
    m_nTimeZone = 0;
    m_nKind = 0;
    m_nDcs = 0;
    m_nUserDataLength = 0;
    m_strUserData.clear();
    m_strUserHeader.clear();
    m_nConcatRef = m_nConcatTotal = m_nConcatSeq = 0;
    m_strPduWork = m_strPduIn;

    Walk w;
    const int rc = WalkFields(*this, w);
    if (rc != PDU_OK) {
        m_strPhone.clear();
        m_strTime.clear();
        m_nKind = 0;
        return rc;
    }
    const std::uint8_t* ud = w.octets.data() + w.userData;

    if (m_nKind == KIND_STATUS_REPORT) {
        TimeStamp(m_strText, ud + 7);  // discharge time
        TimeStamp(m_strTime, ud);      // service-centre time stamp
        m_nTimeZone = TimeZone(ud[6]);
        m_bDelivered = ud[14] == 0 ? 1 : 0;  // every other TP-ST counts as rejected
        m_strText += m_bDelivered ? " Delivered " : " Rejected ";
        return PDU_OK;
    }

    // Octet-aligned payload after the header (8-bit and UCS2).
    const std::uint8_t* payload = ud + w.headerOctets;
    const std::size_t payloadOctets = w.userDataOctets - w.headerOctets;

    Coding coding = w.coding;
    if (coding == Coding::Gsm7) {
        // 7-bit text starts at the first septet boundary after the header and its fill bits.
        const std::size_t udl = static_cast<std::size_t>(m_nUserDataLength);
        const std::size_t headerSeptets = (w.headerOctets * 8 + 6) / 7;
        const std::size_t count = udl - headerSeptets;
        std::array<std::uint8_t, 256> septets;
        for (std::size_t k = 0, pos = headerSeptets * 7; k < count; ++k, pos += 7) {
            const std::size_t byte = pos / 8, shift = pos % 8;
            unsigned v = ud[byte] >> shift;
            if (shift > 1) v |= static_cast<unsigned>(ud[byte + 1]) << (8 - shift);
            septets[k] = static_cast<std::uint8_t>(v & 0x7F);
        }
        // Some senders mark 8-bit data as 7-bit. Such user data holds TP-UDL whole octets,
        // more than TP-UDL septets need; it is then read as 8-bit when that reads better.
        // Packed 7-bit data never holds the extra octets, so a short text with accented letters
        // (whose octets may look like ASCII) stays 7-bit.
        if (w.userDataOctets > (udl * 7 + 7) / 8 &&
            static_cast<std::size_t>(std::count_if(payload, payload + payloadOctets, IsPrintable)) >
                CountPrintable7(septets.data(), count)) {
            coding = Coding::Data8;
            m_nDcs |= 0x04;
        } else {
            m_nKind = KIND_TEXT;
            SeptetsToText(septets.data(), count, m_strText);
        }
    }
    if (coding == Coding::Ucs2) {
        m_nKind = Ucs2ToText(payload, payloadOctets / 2, m_strText) ? KIND_MARKED : KIND_TEXT;
    } else if (coding == Coding::Data8) {
        m_nKind = KIND_DATA;
        m_strText.reserve(2 * payloadOctets);
        // A NUL octet becomes U+FFFD: no database takes a NUL inside a text value.
        constexpr char32_t NUL_STAND_IN = 0xFFFD;
        for (std::size_t i = 0; i < payloadOctets; ++i) AppendUtf8(m_strText, payload[i] ? payload[i] : NUL_STAND_IN);
    }
    if ((m_nDcs & 0xF0) == 0x10) m_nKind = KIND_CLASSED;
    return PDU_OK;
}
