// Helpers of the codec: hex text, UTF-8 and UTF-16, septet packing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "pdu/GsmAlphabet.h"

namespace pdutext {

using Bytes = std::vector<std::uint8_t>;

// A text holding this token is binary data and always travels as 8-bit octets.
inline constexpr std::string_view BINARY_TOKEN = "L35";

// Value of each character as a hex digit; anything else reads as 0.
extern const std::array<std::uint8_t, 256> HEX_VALUE;
inline int HexDigit(char c) { return HEX_VALUE[static_cast<unsigned char>(c)]; }
// Octets of a hex text; a trailing odd digit is ignored.
Bytes HexToBytes(std::string_view hex);
// Octet k of a hex text, or 0 past its end.
int OctetAt(std::string_view hex, std::size_t k);
// Upper-case hex of octets.
std::string BytesToHex(const Bytes& bytes);

// The two upper-case hex digits of every octet.
inline constexpr std::array<std::array<char, 2>, 256> HEX_PAIRS = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> t{};
    for (unsigned v = 0; v < 256; ++v) t[v] = {digits[v >> 4], digits[v & 0xF]};
    return t;
}();
// Writes the two hex digits of an octet at p.
inline void WriteHexOctet(char* p, unsigned value) { std::memcpy(p, HEX_PAIRS[value & 0xFF].data(), 2); }
// Makes room for n more characters at the end of s and returns where they start.
inline char* GrowBy(std::string& s, std::size_t n) {
    const std::size_t at = s.size();
    s.resize(at + n);
    return s.data() + at;
}
inline void AppendHexOctet(std::string& out, unsigned value) { WriteHexOctet(GrowBy(out, 2), value); }

// The character at text[i], advancing i past it; a byte that starts no valid sequence reads
// as U+FFFD and advances by one.
char32_t NextMultiByteChar(std::string_view text, std::size_t& i);
inline char32_t NextChar(std::string_view text, std::size_t& i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    return NextMultiByteChar(text, i);
}
// The 7-bit form of the character at text[i], advancing i past it: its septet, gsm::ESCAPED
// plus its extension code, or gsm::NONE for a character that a 7-bit text does not carry
// (above U+00FF outside the Greek capitals of the default table and the extension table).
inline int NextSeptet(std::string_view text, std::size_t& i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
        ++i;
        return gsm::ASCII_SEPTET[b];
    }
    std::size_t next = i;  // i itself stays in a register on the ASCII path
    const char32_t ch = NextMultiByteChar(text, next);
    i = next;
    const int s = gsm::BasicSeptet(ch);
    if (s != gsm::NONE) return s;
    const int e = gsm::ExtensionSeptet(ch);
    return e == gsm::NONE ? e : gsm::ESCAPED | e;
}
// Code points of UTF-8 text; every byte of an invalid sequence becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view text);
void AppendUtf8(std::string& out, char32_t ch);
std::string EncodeUtf8(std::u32string_view chars);

// UTF-16 units of code points (surrogate pairs above U+FFFF).
std::u16string ToUtf16(std::u32string_view chars);
// UTF-8 of UTF-16 units, ending at the first U+0000; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);
inline bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Packs septets LSB first after fillBits zero bits; the last octet is padded with zeros.
Bytes PackSeptetBits(const Bytes& septets, int fillBits = 0);
// Unpacks at most maxCount whole septets starting at bit firstBit.
Bytes UnpackSeptetBits(const Bytes& octets, std::size_t firstBit, std::size_t maxCount);
// Septets of UTF-8 text: extension characters as escape pairs, characters no table holds as
// a space.
Bytes TextToSeptets(std::string_view text);
// UTF-8 of septets in the GSM default alphabet, escapes through the extension table.
std::string SeptetsToText(const Bytes& septets);
// The same, written over out (whose capacity is reused).
void SeptetsToText(const std::uint8_t* septets, std::size_t n, std::string& out);

}  // namespace pdutext
