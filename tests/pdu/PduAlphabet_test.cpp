// Character handling of the codec: coding choice, septet packing, 8-bit and UCS2 conversions.
#include <gtest/gtest.h>

#include "pdu/SmsPdu.h"

namespace {

const CSmsPdu codec;

struct ClassCase {
    const char* text;
    int expected;
};

TEST(PduAlphabet, ClassifyTextChoosesTheCodingThatLosesNothing) {
    const ClassCase cases[] = {
        {"", ALPHABET_GSM7},
        {"Hello, world! 123 @_$#%&*()", ALPHABET_GSM7},
        {"line\nbreak\r", ALPHABET_GSM7},
        {"£¥¤§¿¡ÄÖÑÜäöñüàèéùìòÇØøÅåÆæßÉ", ALPHABET_GSM7},
        // Extension-table characters travel as escape pairs in a 7-bit text.
        {"a{b", ALPHABET_GSM7}, {"}", ALPHABET_GSM7}, {"x^y", ALPHABET_GSM7}, {"\\", ALPHABET_GSM7},
        {"[", ALPHABET_GSM7}, {"~", ALPHABET_GSM7}, {"]", ALPHABET_GSM7}, {"|", ALPHABET_GSM7},
        {"\f", ALPHABET_GSM7}, {"10€ [ok]", ALPHABET_GSM7}, {"¤", ALPHABET_GSM7},
        // Characters without a septet go as UCS2 rather than as spaces.
        {"canción", ALPHABET_UCS2}, {"ação", ALPHABET_UCS2}, {"olá, você", ALPHABET_UCS2},
        {"a`b", ALPHABET_UCS2}, {"tab\there", ALPHABET_UCS2}, {"\x01", ALPHABET_UCS2},
        // The Greek capitals of the default alphabet are septets; other Greek letters are not.
        {"ΔΦΓΛΩΠΨΣΘΞ", ALPHABET_GSM7}, {"Ω = 5Ψ, ΣΔ!", ALPHABET_GSM7}, {"Δ", ALPHABET_GSM7},
        {"Σας", ALPHABET_UCS2}, {"ΓΕΙΑ", ALPHABET_UCS2},  // Greek Epsilon, Iota, Alpha are no septets
        // Other characters above U+00FF.
        {"Привет", ALPHABET_UCS2}, {"😀", ALPHABET_UCS2},
        // The "L35" token wins over everything else.
        {"L35", ALPHABET_8BIT}, {"xxL35 Привет 😀 {", ALPHABET_8BIT}, {"L3 5", ALPHABET_GSM7},
    };
    for (const auto& c : cases) EXPECT_EQ(codec.ClassifyText(c.text), c.expected) << c.text;
}

struct HexCase {
    const char* text;
    const char* hex;
};

TEST(PduAlphabet, PackSeptetsUsesTheTrueDefaultAlphabet) {
    const HexCase cases[] = {
        {"hello", "E8329BFD06"},
        {"@", "00"},
        {"", ""},
        {"£5", "811A"},             // '£' is septet 0x01
        {"$10", "82180C"},          // '$' is septet 0x02
        {"¤§€5", "A4EFA65C03"},    // '¤' 0x24, '§' 0x5F, '€' escape 0x65
        {"{ok}", "1BD47BBD4901"},   // extension characters as escape pairs
        {"ΔΦΓΛΩΠΨΣΘΞ", "10C98452B15C30190D"},
        {"aaaaaaa", "E170381C0E8701"},
        {"aaaaaaaa", "E170381C0E87C3"},  // 8 characters fill 7 octets
        {"á`", "2010"},                   // no septet at all: spaces
    };
    for (const auto& c : cases) EXPECT_EQ(codec.PackSeptets(c.text), c.hex) << c.text;
}

TEST(PduAlphabet, UnpackSeptetsDecodesEverySeptetToItsCharacter) {
    const HexCase cases[] = {
        {"hello", "E8329BFD06"},
        {"£5", "811A"},
        {"¤§€5", "A4EFA65C03"},
        {"{ok}", "1BD47BBD4901"},
        {"ΔΦΓΛΩΠΨΣΘΞ", "10C98452B15C30190D"},
        {"[~]|\\^\f", "1BDEA6B7F16D809BD786B25100"},
        {"A", "9B20"},                // escape before an undefined code: the basic character
        {"aaaaaaaa", "E170381C0E87C3"},
        {"aaaaaaa@", "E170381C0E8701"},  // 7 characters: the fill bits read as '@'
        {"ÖL", "5C26"},
    };
    for (const auto& c : cases) EXPECT_EQ(codec.UnpackSeptets(c.hex), c.text) << c.hex;
    EXPECT_EQ(codec.UnpackSeptets("e8329bfd06"), "hello");
}

TEST(PduAlphabet, EightBitIsIso8859OneOctetPerCharacter) {
    EXPECT_EQ(codec.TextToHex8("Aé\xC3\xBF"), "41E9FF");
    EXPECT_EQ(codec.TextToHex8("€😀"), "3F3F");  // no octet for these
    EXPECT_EQ(codec.HexToText8("41E9FF"), "Aé\xC3\xBF");
    // Every octet survives a round trip through the UTF-8 text.
    std::string all;
    for (int v = 0; v < 256; ++v) {
        static const char digits[] = "0123456789ABCDEF";
        all += digits[v >> 4];
        all += digits[v & 15];
    }
    EXPECT_EQ(codec.TextToHex8(codec.HexToText8(all)), all);
}

TEST(PduAlphabet, Ucs2IsUtf16BigEndianWithSurrogatePairs) {
    const HexCase cases[] = {
        {"Hi", "00480069"},
        {"€", "20AC"},
        {"Привет", "041F04400438043204350442"},
        {"a😀b", "0061D83DDE000062"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(codec.TextToUcs2Hex(c.text), c.hex) << c.text;
        EXPECT_EQ(codec.Ucs2HexToText(c.hex), c.text) << c.hex;
    }
    EXPECT_EQ(codec.Ucs2HexToText("d83dde00"), "😀");
    EXPECT_EQ(codec.Ucs2HexToText("00480000006900"), "H");           // U+0000 ends the text
    EXPECT_EQ(codec.Ucs2HexToText("D83D0041"), "\xEF\xBF\xBD" "A");  // lone surrogate
    EXPECT_EQ(codec.Ucs2HexToText("004800"), "H");                   // odd octet ignored
}

TEST(PduAlphabet, SwapSemiOctetsExchangesEachPair) {
    EXPECT_EQ(codec.SwapSemiOctets("12345F"), "2143F5");
    EXPECT_EQ(codec.SwapSemiOctets("12345"), "21435");
    EXPECT_EQ(codec.SwapSemiOctets("5060412100"), "0506141200");
    EXPECT_EQ(codec.SwapSemiOctets(""), "");
}

}  // namespace
