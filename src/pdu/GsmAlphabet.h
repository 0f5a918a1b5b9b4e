// The GSM 03.38 default alphabet and its extension table, as Unicode code points.
#pragma once

#include <array>
#include <cstdint>

// Character of each septet 0x00..0x7F of the default alphabet. The escape septet 0x1B has no
// character of its own: on its own (or doubled) it reads as a space.
extern const std::array<char32_t, 128> GSM_TABLE;

namespace gsm {

constexpr std::uint8_t ESCAPE = 0x1B;   // switches the next septet to the extension table
constexpr std::uint8_t SPACE = 0x20;    // sent for a character no table holds
constexpr int NONE = -1;

// Septet of each character U+0000..U+00FF in the default table, or NONE.
extern const std::array<std::int8_t, 256> LATIN_SEPTET;
// For each ASCII character: its septet, ESCAPED + its extension code, or NONE.
constexpr int ESCAPED = 0x100;
extern const std::array<std::int16_t, 128> ASCII_SEPTET;
// Septet of a Greek capital of the default table, or NONE.
int GreekSeptet(char32_t ch);

// Extension-table character of the code after an escape, or 0 when the code is undefined.
char32_t ExtensionChar(std::uint8_t code);
// Septet of a character in the default table, or NONE.
inline int BasicSeptet(char32_t ch) { return ch < 256 ? LATIN_SEPTET[ch] : GreekSeptet(ch); }
// Extension-table code of a character (to be sent after ESCAPE), or NONE.
int ExtensionSeptet(char32_t ch);

}  // namespace gsm
