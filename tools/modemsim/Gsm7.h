#pragma once
// Text helpers of the simulator's own PDU encoder: UTF-8 to code points, the GSM 03.38
// default alphabet with its extension table, UCS2 with surrogate pairs, septet packing.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace modemsim {

// Code points of a UTF-8 text; a malformed sequence yields U+FFFD for its first byte.
std::vector<char32_t> DecodeUtf8(const std::string& text);
std::string EncodeUtf8(const std::vector<char32_t>& codePoints);

// The septets of one character in the GSM default alphabet: one septet, or two for the
// extension table (0x1B escape first); nothing when the alphabet lacks the character.
std::optional<std::vector<uint8_t>> GsmSeptets(char32_t c);
bool FitsGsmAlphabet(const std::vector<char32_t>& text);

// UTF-16 code units of one character (two for a character beyond U+FFFF).
std::vector<uint16_t> Utf16Units(char32_t c);

// Packs septets into octets, low bits first, after `fillBits` zero bits (the padding
// that aligns septets after a user-data header).
std::vector<uint8_t> PackSeptets(const std::vector<uint8_t>& septets, int fillBits = 0);

std::string ToHex(const std::vector<uint8_t>& octets);
// Upper- or lower-case hex to octets; nothing for an odd length or a non-hex digit.
std::optional<std::vector<uint8_t>> FromHex(const std::string& hex);

}  // namespace modemsim
