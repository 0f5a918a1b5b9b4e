// libFuzzer target for CSmsPdu::Decode.
// Input: one control byte, then the PDU. Control bits 0..1 give the storage status; bit 2 set
// means the rest is binary octets to be written as hex, clear means it is taken as text as is.
// A PDU may be refused, but only with a reason; each accepted PDU's text is encoded again
// and must decode back to itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "pdu/SmsPdu.h"

namespace {

constexpr char HEX[] = "0123456789ABCDEF";

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// Encodes the text as a plain message to a fixed number and returns the decoded text.
std::string RoundTrip(const std::string& text) {
    CSmsPdu out;
    out.m_strPhone = "+4912345";
    out.m_strText = text;
    out.m_nKind = KIND_TEXT;
    const int rc = out.EncodeText();
    Check(rc == PDU_OK || rc == PDU_TOO_LONG);
    if (rc != PDU_OK) return text;
    std::string joined;
    for (int i = 0; i < out.m_nSegmentCount; ++i) {
        CSmsPdu back;
        back.m_strPduIn = out.m_pdusOut[static_cast<std::size_t>(i)];
        back.m_nStorageStatus = 2;
        Check(back.Decode() == PDU_OK);
        Check(back.m_strPhone == "+4912345");
        joined += back.m_strText;
    }
    return joined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned control = data[0];
    std::string pdu;
    if (control & 0x04) {
        for (std::size_t i = 1; i < size; ++i) {
            pdu += HEX[data[i] >> 4];
            pdu += HEX[data[i] & 0xF];
        }
    } else {
        pdu.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    }

    CSmsPdu rec;
    rec.m_strPduIn = pdu;
    rec.m_nStorageStatus = static_cast<int>(control & 0x03);
    const int rc = rec.Decode();
    Check(rc == PDU_OK || (rc == PDU_TOO_SHORT && pdu.size() < 4) || rc == PDU_MALFORMED);
    if (rc != PDU_OK) {
        Check(*rec.m_pszDecodeError != '\0');
        return 0;
    }
    Check(rec.m_nKind >= KIND_TEXT && rec.m_nKind <= KIND_STATUS_REPORT);

    // Texts the plain encoding carries unchanged: no 8-bit token, no U+0000 or U+0001.
    const std::string& text = rec.m_strText;
    if (!text.empty() && text.find("L35") == std::string::npos && text.find('\0') == std::string::npos &&
        text.find('\x01') == std::string::npos)
        Check(RoundTrip(text) == text);
    return 0;
}
