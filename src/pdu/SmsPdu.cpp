#include "pdu/SmsPdu.h"

#include "pdu/GsmAlphabet.h"
#include "pdu/PduText.h"

using namespace pdutext;

CSmsPdu::CSmsPdu() = default;
CSmsPdu::~CSmsPdu() = default;

int CSmsPdu::ClassifyText(const std::string& text) const {
    if (text.find(BINARY_TOKEN) != std::string::npos) return ALPHABET_8BIT;
    // Extension-table characters travel as escape pairs. A character above U+00FF outside the
    // extension table, or one the default alphabet lacks, sends the whole text as UCS2, so
    // nothing is lost.
    for (std::size_t i = 0; i < text.size();)
        if (NextSeptet(text, i) == gsm::NONE) return ALPHABET_UCS2;
    return ALPHABET_GSM7;
}

std::string CSmsPdu::PackSeptets(const std::string& text) const {
    return BytesToHex(PackSeptetBits(TextToSeptets(text)));
}

std::string CSmsPdu::UnpackSeptets(const std::string& hex) const {
    return SeptetsToText(UnpackSeptetBits(HexToBytes(hex), 0, hex.size()));
}

std::string CSmsPdu::TextToHex8(const std::string& text) const {
    std::string out;
    out.reserve(text.size() * 2);
    for (char32_t ch : DecodeUtf8(text)) AppendHexOctet(out, ch <= 0xFF ? ch : U'?');
    return out;
}

std::string CSmsPdu::HexToText8(const std::string& hex) const {
    std::string out;
    out.reserve(hex.size() / 2);
    for (auto b : HexToBytes(hex)) AppendUtf8(out, b);
    return out;
}

std::string CSmsPdu::TextToUcs2Hex(const std::string& text) const {
    std::string out;
    const std::u16string units = ToUtf16(DecodeUtf8(text));
    out.reserve(units.size() * 4);
    for (char16_t u : units) {
        AppendHexOctet(out, u >> 8);
        AppendHexOctet(out, u & 0xFF);
    }
    return out;
}

std::string CSmsPdu::Ucs2HexToText(const std::string& hex) const {
    const Bytes octets = HexToBytes(hex);
    std::u16string units(octets.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(octets[2 * i] << 8 | octets[2 * i + 1]);
    return Utf16ToUtf8(units);
}

std::string CSmsPdu::SwapSemiOctets(const std::string& digits) const {
    std::string out = digits;
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
    return out;
}
