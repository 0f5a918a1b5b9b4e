#include "pdu/PduText.h"

#include "pdu/GsmAlphabet.h"

namespace pdutext {

namespace {
constexpr char32_t REPLACEMENT = 0xFFFD;
}  // namespace

constexpr std::array<std::uint8_t, 256> HEX_VALUE = [] {
    std::array<std::uint8_t, 256> v{};  // anything but a hex digit reads as 0
    for (int d = 0; d < 10; ++d) v['0' + d] = static_cast<std::uint8_t>(d);
    for (int d = 0; d < 6; ++d) {
        v['A' + d] = static_cast<std::uint8_t>(10 + d);
        v['a' + d] = static_cast<std::uint8_t>(10 + d);
    }
    return v;
}();

Bytes HexToBytes(std::string_view hex) {
    Bytes out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(HexDigit(hex[2 * i]) << 4 | HexDigit(hex[2 * i + 1]));
    return out;
}

int OctetAt(std::string_view hex, std::size_t k) {
    if (k >= hex.size() / 2) return 0;
    return HexDigit(hex[2 * k]) << 4 | HexDigit(hex[2 * k + 1]);
}

std::string BytesToHex(const Bytes& bytes) {
    std::string out(bytes.size() * 2, '0');
    for (std::size_t i = 0; i < bytes.size(); ++i) WriteHexOctet(out.data() + 2 * i, bytes[i]);
    return out;
}

char32_t NextMultiByteChar(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    int len = 0;
    char32_t ch = 0, min = 0;
    if ((b0 & 0xE0) == 0xC0) { len = 2; ch = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { len = 3; ch = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { len = 4; ch = b0 & 0x07; min = 0x10000; }
    bool ok = len > 0 && i + static_cast<std::size_t>(len) <= text.size();
    for (int k = 1; ok && k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) ok = false;
        else ch = ch << 6 | (b & 0x3F);
    }
    if (ok && (ch < min || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF))) ok = false;
    if (!ok) {
        ++i;
        return REPLACEMENT;
    }
    i += static_cast<std::size_t>(len);
    return ch;
}

std::u32string DecodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) out += NextChar(text, i);
    return out;
}

void AppendUtf8(std::string& out, char32_t ch) {
    if (ch < 0x80) {
        out += static_cast<char>(ch);
    } else if (ch < 0x800) {
        out += static_cast<char>(0xC0 | ch >> 6);
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += static_cast<char>(0xE0 | ch >> 12);
        out += static_cast<char>(0x80 | (ch >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ch >> 18);
        out += static_cast<char>(0x80 | (ch >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (ch >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    }
}

std::string EncodeUtf8(std::u32string_view chars) {
    std::string out;
    out.reserve(chars.size());
    for (auto ch : chars) AppendUtf8(out, ch);
    return out;
}

std::u16string ToUtf16(std::u32string_view chars) {
    std::u16string out;
    out.reserve(chars.size());
    for (auto ch : chars) {
        if (ch >= 0x10000) {
            ch -= 0x10000;
            out += static_cast<char16_t>(0xD800 | ch >> 10);
            out += static_cast<char16_t>(0xDC00 | (ch & 0x3FF));
        } else {
            out += static_cast<char16_t>(ch);
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u == 0) break;
        if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            AppendUtf8(out, REPLACEMENT);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

Bytes PackSeptetBits(const Bytes& septets, int fillBits) {
    const std::size_t bits = static_cast<std::size_t>(fillBits) + septets.size() * 7;
    Bytes out((bits + 7) / 8, 0);
    std::size_t pos = static_cast<std::size_t>(fillBits);
    for (auto s : septets) {
        const unsigned v = s & 0x7F;
        const std::size_t byte = pos / 8, shift = pos % 8;
        out[byte] = static_cast<std::uint8_t>(out[byte] | (v << shift));
        if (shift > 1) out[byte + 1] = static_cast<std::uint8_t>(v >> (8 - shift));
        pos += 7;
    }
    return out;
}

Bytes UnpackSeptetBits(const Bytes& octets, std::size_t firstBit, std::size_t maxCount) {
    const std::size_t bits = octets.size() * 8;
    Bytes out;
    if (firstBit >= bits) return out;
    std::size_t count = (bits - firstBit) / 7;
    if (count > maxCount) count = maxCount;
    out.reserve(count);
    for (std::size_t k = 0, pos = firstBit; k < count; ++k, pos += 7) {
        const std::size_t byte = pos / 8, shift = pos % 8;
        unsigned v = octets[byte] >> shift;
        if (shift > 1) v |= static_cast<unsigned>(octets[byte + 1]) << (8 - shift);
        out.push_back(static_cast<std::uint8_t>(v & 0x7F));
    }
    return out;
}

Bytes TextToSeptets(std::string_view text) {
    Bytes septets(2 * text.size());  // an escape pair is the most one character takes
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t ch = NextChar(text, i);
        int s = gsm::BasicSeptet(ch);
        if (s != gsm::NONE) {
            septets[n++] = static_cast<std::uint8_t>(s);
        } else if ((s = gsm::ExtensionSeptet(ch)) != gsm::NONE) {
            septets[n++] = gsm::ESCAPE;
            septets[n++] = static_cast<std::uint8_t>(s);
        } else {
            septets[n++] = gsm::SPACE;
        }
    }
    septets.resize(n);
    return septets;
}

std::string SeptetsToText(const Bytes& septets) {
    std::string out;
    SeptetsToText(septets.data(), septets.size(), out);
    return out;
}

void SeptetsToText(const std::uint8_t* septets, std::size_t n, std::string& out) {
    out.resize(3 * n);  // no character of the tables takes more
    char* p = out.data();
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t s = septets[i] & 0x7F;
        char32_t ch = GSM_TABLE[s];
        if (s == gsm::ESCAPE && i + 1 < n) {
            s = septets[++i] & 0x7F;
            const char32_t ext = gsm::ExtensionChar(s);
            ch = ext ? ext : GSM_TABLE[s];
        }
        if (ch < 0x80) {
            *p++ = static_cast<char>(ch);
        } else if (ch < 0x800) {
            *p++ = static_cast<char>(0xC0 | ch >> 6);
            *p++ = static_cast<char>(0x80 | (ch & 0x3F));
        } else {
            *p++ = static_cast<char>(0xE0 | ch >> 12);
            *p++ = static_cast<char>(0x80 | (ch >> 6 & 0x3F));
            *p++ = static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
}

}  // namespace pdutext
