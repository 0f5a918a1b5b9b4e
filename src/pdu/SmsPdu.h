// CSmsPdu: the SMS message record and the codec between UTF-8 text and PDU hex.
// Pure code: no input or output. Every PDU and user-data field is hex text with two
// upper-case digits per octet; parsing accepts either case.
#pragma once

#include <string>
#include <vector>

// Text classes returned by CSmsPdu::ClassifyText.
constexpr int ALPHABET_GSM7 = 9201;
constexpr int ALPHABET_8BIT = 9202;
constexpr int ALPHABET_UCS2 = 9203;

// Message kinds: how a message is sent, and what a decoded PDU turned out to be.
enum SmsKind : int {
    KIND_TEXT = 1,           // plain text; after decoding 7-bit or UCS2 text
    KIND_LONG = 2,           // concatenated segments with a user-data header (sending only)
    KIND_CLASSED = 3,        // message class 0 (DCS + 0x10); after decoding DCS bits 7..4 = 0001
    KIND_MARKED = 4,         // always UCS2, '^' travels as U+0001
    KIND_DATA = 5,           // plain encoding as KIND_TEXT; after decoding 8-bit data
    KIND_STATUS_REPORT = 6,  // decoded SMS-STATUS-REPORT (never sent)
};

// Results of the encoding and decoding operations (1 is success).
constexpr int PDU_OK = 1;
constexpr int PDU_NO_ADDRESS = -23;  // destination without digits, with other characters or
                                     // over 20 digits: no header
constexpr int PDU_TOO_SHORT = -24;   // PDU shorter than two octets
constexpr int PDU_TOO_LONG = -25;    // text needs more than PDU_MAX_SEGMENTS segments
constexpr int PDU_MALFORMED = -26;   // PDU ends before its own fields do, or is not hex

// DCS and PID value meaning "choose automatically" (DCS) or "use 0" (PID).
constexpr int PDU_AUTO = 0x100;
// Most PDUs one message may be cut into.
constexpr int PDU_MAX_SEGMENTS = 64;

class CSmsPdu {
public:
    CSmsPdu();           // an empty record with the sending defaults below
    virtual ~CSmsPdu();  // the record is the only state; nothing else to release

    // --- Characters (UTF-8 text) ---------------------------------------------------------
    // ALPHABET_8BIT when the text holds "L35"; ALPHABET_UCS2 when a character is neither in the
    // default alphabet's U+0000..U+00FF part nor in its extension table (so Greek capitals go
    // as UCS2); ALPHABET_GSM7 otherwise.
    int ClassifyText(const std::string& text) const;
    // Packs the text into GSM 7-bit septets (extension characters as escape pairs) as hex.
    std::string PackSeptets(const std::string& text) const;
    // Unpacks every whole septet of the hex to UTF-8 through the GSM default alphabet.
    std::string UnpackSeptets(const std::string& hex) const;
    // One octet per character U+0000..U+00FF (ISO 8859-1); other characters become '?'.
    std::string TextToHex8(const std::string& text) const;
    // One character U+0000..U+00FF per octet, written as UTF-8.
    std::string HexToText8(const std::string& hex) const;
    // UTF-16 big-endian hex, four digits per unit, surrogate pairs above U+FFFF.
    std::string TextToUcs2Hex(const std::string& text) const;
    // UTF-16 big-endian hex to UTF-8; a U+0000 ends the text.
    std::string Ucs2HexToText(const std::string& hex) const;
    // Exchanges the two characters of every pair; an odd last character stays.
    std::string SwapSemiOctets(const std::string& digits) const;

    // --- Encoding (SMS-SUBMIT) -----------------------------------------------------------
    // Builds m_strHeader from phone, kind, text, report request, validity, DCS, PID and the
    // header indicator; resolves automatic DCS and PID. PDU_OK or PDU_NO_ADDRESS.
    // Blanks, '-', '.' and parentheses between the digits are dropped.
    int BuildHeader();
    // Plain encoding into independent PDUs (no concatenation header). PDU_OK, PDU_NO_ADDRESS
    // or PDU_TOO_LONG.
    int EncodeText();
    // Long encoding: one PDU without header when the text fits, else concatenated segments
    // with an 8-bit reference, in the text's own coding (153 septets, 67 UCS2 units or 134
    // octets each). PDU_OK, PDU_NO_ADDRESS or PDU_TOO_LONG.
    int EncodeLong();

    // --- Decoding (SMS-DELIVER, stored SMS-SUBMIT, SMS-STATUS-REPORT) -----------------------
    // Walks the octets of m_strPduWork into the record fields. PDU_OK, PDU_TOO_SHORT or
    // PDU_MALFORMED (with m_pszDecodeError set).
    int ParseFields();
    // Decodes m_strPduIn (with m_nStorageStatus) into phone, text, time, kind. PDU_OK,
    // PDU_TOO_SHORT or PDU_MALFORMED; m_pszDecodeError then says why in one line.
    int Decode();

    // --- The record ----------------------------------------------------------------------
    int m_nDecodeCodePage = 0;           // kept for the driver; text is always UTF-8
    int m_nEncodeCodePage = 0;           // kept for the driver; text is always UTF-8
    std::string m_strPhone;              // destination (sending); originator/recipient (decoded)
    std::string m_strText;               // message text, UTF-8
    std::string m_strTime;               // decoded service-centre time stamp YYMMDDhhmmss
    int m_nTimeZone = 0;                 // its zone: offset from UTC in quarters of an hour
    int m_nKind = KIND_TEXT;             // SmsKind
    int m_nStorageStatus = 0;            // +CMGR status: 0/1 received, 2/3 stored SMS-SUBMIT
    int m_nReference = 0;                // store index, or TP-MR of a status report
    int m_nSegmentCount = 0;             // number of PDUs in m_pdusOut after encoding
    int m_bReportRequest = 1;            // ask for a status report (last segment only)
    int m_nValidityMinutes = 10080;      // relative validity period in minutes
    int m_bDelivered = 1;                // status report: 1 delivered, 0 rejected
    std::string m_strPduIn;              // PDU hex to decode, starting with the SMSC length
    std::string m_strPduWork;            // the copy the decoder works on
    std::vector<std::string> m_pdusOut;  // built PDUs in sending order, m_nSegmentCount of them
    std::string m_strUserData;           // encoded user data, empty for concatenated 7-bit
                                         // text (sending); raw TP-UD (decoded)
    std::string m_strHeader;             // SMS-SUBMIT header hex up to and including TP-VP
    std::vector<std::string> m_segmentData;  // user-data piece of each segment (long encoding)
    int m_nDcs = PDU_AUTO;               // data coding scheme; PDU_AUTO chooses
    int m_nPid = PDU_AUTO;               // protocol identifier; PDU_AUTO means 0
    int m_bHeaderIndicator = 0;          // set TP-UDHI in the first octet
    int m_nUserDataLength = 0;           // decoded TP-UDL
    std::string m_strUserHeader;         // decoded user-data header hex with its length octet
    int m_nConcatRef = 0;                // decoded concatenation reference (8 or 16 bit)
    int m_nConcatTotal = 0;              // decoded number of parts; 0 when not concatenated
    int m_nConcatSeq = 0;                // decoded part number, 1-based
    const char* m_pszDecodeError = "";   // why the last decoding failed; "" after success
};
