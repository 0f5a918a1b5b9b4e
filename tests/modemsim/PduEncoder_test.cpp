// The simulator's PDU encoder against octets worked out by hand from 3GPP TS 23.038 /
// 23.040 (field by field, as the comments show).
#include <gtest/gtest.h>

#include "Gsm7.h"
#include "PduEncoder.h"

using namespace modemsim;

namespace {

std::string Hex(const std::optional<std::vector<uint8_t>>& v) { return v ? ToHex(*v) : "none"; }

std::string Repeat(char ch, int n) { return std::string(static_cast<size_t>(n), ch); }

}  // namespace

TEST(ModemSimGsm7, PacksSeptetsLowBitsFirst) {
    // The textbook example: "hellohello" in 7-bit.
    std::vector<uint8_t> septets;
    for (char ch : std::string("hellohello"))
        septets.push_back(static_cast<uint8_t>(ch));
    EXPECT_EQ(ToHex(PackSeptets(septets)), "E8329BFD4697D9EC37");
    // One fill bit (after a 6-octet header) shifts every septet up by one bit.
    EXPECT_EQ(ToHex(PackSeptets({0x61}, 1)), "C2");
    EXPECT_EQ(ToHex(PackSeptets({0x61, 0x1B, 0x65}, 1)), "C29B32");
    EXPECT_EQ(ToHex(PackSeptets({})), "");
}

TEST(ModemSimGsm7, MapsTheDefaultAlphabetAndItsExtension) {
    struct Case {
        char32_t c;
        std::vector<uint8_t> septets;  // empty: not in the alphabet
    };
    const Case cases[] = {
        {U'@', {0x00}},   {U'\u00A3', {0x01}}, {U'$', {0x02}},   {U'\u00E8', {0x04}},
        {U'\n', {0x0A}},  {U'\u0394', {0x10}}, {U'_', {0x11}},   {U'\u00C9', {0x1F}},
        {U'\u00A4', {0x24}}, {U'\u00A1', {0x40}}, {U'\u00A7', {0x5F}}, {U'\u00BF', {0x60}},
        {U'\u00FC', {0x7E}}, {U'\u00E0', {0x7F}}, {U'\u20AC', {0x1B, 0x65}}, {U'\\', {0x1B, 0x2F}},
        {U'[', {0x1B, 0x3C}}, {U'|', {0x1B, 0x40}}, {U'^', {0x1B, 0x14}}, {U'\f', {0x1B, 0x0A}},
        {U'`', {}},        {U'\u0105', {}},     {U'\x1B', {}},     {U'\U0001F600', {}},
    };
    for (const auto& c : cases) {
        const auto s = GsmSeptets(c.c);
        if (c.septets.empty())
            EXPECT_FALSE(s) << "U+" << std::hex << static_cast<uint32_t>(c.c);
        else
            EXPECT_EQ(s.value_or(std::vector<uint8_t>{}), c.septets) << "U+" << std::hex << static_cast<uint32_t>(c.c);
    }
}

TEST(ModemSimGsm7, SplitsCharactersBeyondTheBasicPlaneIntoSurrogates) {
    EXPECT_EQ(Utf16Units(U'A'), (std::vector<uint16_t>{0x0041}));
    EXPECT_EQ(Utf16Units(U'\U0001F600'), (std::vector<uint16_t>{0xD83D, 0xDE00}));
    EXPECT_EQ(Utf16Units(U'\U0010FFFF'), (std::vector<uint16_t>{0xDBFF, 0xDFFF}));
}

TEST(ModemSimGsm7, ReplacesMalformedUtf8) {
    EXPECT_EQ(DecodeUtf8("a\xC3\xA9"), (std::vector<char32_t>{U'a', U'\u00E9'}));
    // Overlong form, truncated sequence, lone continuation byte, encoded surrogate.
    EXPECT_EQ(DecodeUtf8("a\xC0\x80" "b"), (std::vector<char32_t>{U'a', 0xFFFD, 0xFFFD, U'b'}));
    EXPECT_EQ(DecodeUtf8("\xE2\x82"), (std::vector<char32_t>{0xFFFD, 0xFFFD}));
    EXPECT_EQ(DecodeUtf8("\x80"), (std::vector<char32_t>{0xFFFD}));
    EXPECT_EQ(DecodeUtf8("\xED\xA0\x80").front(), char32_t{0xFFFD});
    EXPECT_EQ(DecodeUtf8(EncodeUtf8({U'\U0001F600', U'x'})), (std::vector<char32_t>{U'\U0001F600', U'x'}));
}

TEST(ModemSimGsm7, ReadsHexOnlyWhenWellFormed) {
    EXPECT_EQ(Hex(FromHex("00aFff")), "00AFFF");
    EXPECT_FALSE(FromHex("ABC"));
    EXPECT_FALSE(FromHex("0G"));
}

TEST(ModemSimAddresses, EncodesNumbersAsSwappedSemiOctets) {
    struct Case {
        std::string number, hex;
    };
    const Case cases[] = {
        {"+4917012345", "0A919471103254"},   // ten digits, international
        {"4912345", "0781942143F5"},         // odd count: F fills the last octet
        {"+12*#", "049121BA"},               // '*' and '#' are semi-octets A and B
        {"", "none"},
        {"+", "none"},
        {"+49x1", "none"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(EncodeAddress(c.number)), c.hex) << c.number;
}

TEST(ModemSimAddresses, EncodesAlphanumericSendersIn7Bit) {
    // Five septets are 35 bits: nine useful semi-octets.
    EXPECT_EQ(Hex(EncodeAlphaAddress("Hello")), "09D0C8329BFD06");
    EXPECT_EQ(Hex(EncodeAlphaAddress("ABCDEFGHIJKL")), "none");  // longer than 11
    EXPECT_EQ(Hex(EncodeAlphaAddress("Sch\xC5\x82")), "none");   // not in the GSM alphabet
}

TEST(ModemSimAddresses, CountsServiceCentreLengthInOctets) {
    EXPECT_EQ(Hex(EncodeScAddress("+491710760000")), "0791947101670000");
    EXPECT_EQ(Hex(EncodeScAddress("")), "00");
    EXPECT_EQ(ScAddressOctets({0x00, 0x11}), std::optional<size_t>(1));
    EXPECT_EQ(ScAddressOctets({0x07, 0x91, 0x94}), std::nullopt);
    EXPECT_EQ(ScAddressOctets({}), std::nullopt);
}

TEST(ModemSimTimestamps, SwapDigitPairsAndSignTheZone) {
    EXPECT_EQ(Hex(EncodeTimestamp("261207093000+04")), "62217090030040");
    // -08 quarter hours: bit 3 of the tens semi-octet is the sign.
    EXPECT_EQ(Hex(EncodeTimestamp("050312142530-08")), "50302141520388");
    EXPECT_EQ(Hex(EncodeTimestamp("2612070930+04")), "none");
    EXPECT_EQ(Hex(EncodeTimestamp("261207093000*04")), "none");
    EXPECT_EQ(Hex(EncodeTimestamp("26120709300A+04")), "none");
}

class ModemSimDeliver : public ::testing::Test {
protected:
    DeliverOptions Options(const std::string& text) {
        DeliverOptions o;
        o.from = "4912345";
        o.smsc = "";
        o.text = text;
        return o;
    }
    // SC "00", first octet, sender 4912345, PID, DCS, time stamp, UDL, UD.
    static std::string Expected(const std::string& first, const std::string& dcs, const std::string& udl,
                                const std::string& ud) {
        return "00" + first + "0781942143F5" + "00" + dcs + "62217090030040" + udl + ud;
    }
};

TEST_F(ModemSimDeliver, SinglePartIn7Bit) {
    const auto r = EncodeDeliver(Options("hellohello"));
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.pdus.size(), 1u);
    EXPECT_EQ(r.pdus[0].hex, Expected("04", "00", "0A", "E8329BFD4697D9EC37"));
    EXPECT_EQ(r.pdus[0].tpduLength, static_cast<int>(r.pdus[0].hex.size() / 2 - 1));
}

TEST_F(ModemSimDeliver, PicksTheCodingAndMessageClass) {
    struct Case {
        std::string text;
        Coding coding;
        int messageClass;
        std::string dcs, udl, ud;
    };
    const Case cases[] = {
        // A character beyond U+FFFF needs UCS2 and goes as a surrogate pair.
        {"A\xF0\x9F\x98\x80", Coding::Auto, -1, "08", "06", "0041D83DDE00"},
        {"\xE2\x82\xAC", Coding::Auto, -1, "00", "02", "9B32"},  // the euro sign: escape + 0x65
        {"ab", Coding::Octets, -1, "04", "02", "6162"},
        {"a", Coding::Gsm7, 0, "10", "01", "61"},
        {"a", Coding::Ucs2, 1, "19", "02", "0061"},
        {"", Coding::Auto, -1, "00", "00", ""},
    };
    for (const auto& c : cases) {
        auto o = Options(c.text);
        o.coding = c.coding;
        o.messageClass = c.messageClass;
        const auto r = EncodeDeliver(o);
        ASSERT_EQ(r.pdus.size(), 1u) << c.text << " " << r.error;
        EXPECT_EQ(r.pdus[0].hex, Expected("04", c.dcs, c.udl, c.ud)) << c.text;
    }
}

TEST_F(ModemSimDeliver, SplitsLongTextWithAnEightBitReference) {
    auto o = Options(Repeat('a', 161));
    o.reference = 2;
    const auto r = EncodeDeliver(o);
    ASSERT_EQ(r.pdus.size(), 2u);
    // Six header octets plus one fill bit are seven septets: 153 septets of text fit.
    const std::string first = r.pdus[0].hex;
    EXPECT_EQ(first.substr(0, Expected("44", "00", "A0", "").size()), Expected("44", "00", "A0", ""));
    EXPECT_EQ(first.substr(Expected("44", "00", "A0", "").size(), 12), "050003020201");
    EXPECT_EQ(r.pdus[1].hex, Expected("44", "00", "0F", "050003020202" "C2E170381C0E8701"));
}

TEST_F(ModemSimDeliver, SplitsLongTextWithASixteenBitReference) {
    auto o = Options(Repeat('a', 161));
    o.reference = 0x0123;
    o.refBits = 16;
    const auto r = EncodeDeliver(o);
    ASSERT_EQ(r.pdus.size(), 2u);
    // Seven header octets are exactly eight septets: no fill, 152 septets per part.
    EXPECT_EQ(r.pdus[1].hex, Expected("44", "00", "11", "0608040123" "0202" "E170381C0E87C361"));
    // Part one: UDL 8 + 152 septets, then 140 octets of user data.
    EXPECT_EQ(r.pdus[0].hex.substr(r.pdus[0].hex.size() - 2 * 140 - 2, 2 + 14), "A0" "0608040123" "0201");
}

TEST_F(ModemSimDeliver, NeverSplitsAnEscapePairOrASurrogatePair) {
    auto o = Options("a\xE2\x82\xAC" "b");  // a, euro (two septets), b
    o.partLength = 3;
    auto r = EncodeDeliver(o);
    ASSERT_EQ(r.pdus.size(), 2u);
    EXPECT_EQ(r.pdus[0].hex, Expected("44", "00", "0A", "050003010201" "C29B32"));
    EXPECT_EQ(r.pdus[1].hex, Expected("44", "00", "08", "050003010202" "C4"));

    o = Options("A\xF0\x9F\x98\x80");  // A and a surrogate pair
    o.coding = Coding::Ucs2;
    o.partLength = 2;
    r = EncodeDeliver(o);
    ASSERT_EQ(r.pdus.size(), 2u);
    EXPECT_EQ(r.pdus[0].hex, Expected("44", "08", "08", "050003010201" "0041"));
    EXPECT_EQ(r.pdus[1].hex, Expected("44", "08", "0A", "050003010202" "D83DDE00"));
}

TEST_F(ModemSimDeliver, UsesAlphanumericSenderAndServiceCentre) {
    auto o = Options("hi");
    o.alpha = "Hello";
    o.smsc = "+491710760000";
    const auto r = EncodeDeliver(o);
    ASSERT_EQ(r.pdus.size(), 1u);
    EXPECT_EQ(r.pdus[0].hex, "0791947101670000" "04" "09D0C8329BFD06" "0000" "62217090030040" "02" "E834");
    EXPECT_EQ(r.pdus[0].tpduLength, 20);
}

TEST_F(ModemSimDeliver, RefusesWhatCannotBeEncoded) {
    auto o = Options("\xE2\x82\xAC");
    o.partLength = 1;
    EXPECT_NE(EncodeDeliver(o).error, "");  // a two-septet character in one-septet parts
    o = Options("\xC4\x85");
    o.coding = Coding::Gsm7;
    EXPECT_NE(EncodeDeliver(o).error, "");
    o = Options("x");
    o.timestamp = "yesterday";
    EXPECT_NE(EncodeDeliver(o).error, "");
    o = Options(Repeat('a', 256));
    o.partLength = 1;
    EXPECT_NE(EncodeDeliver(o).error, "");  // 256 parts
    o = Options("x");
    o.refBits = 12;
    EXPECT_NE(EncodeDeliver(o).error, "");
}

TEST(ModemSimStatusReport, LaysOutReferenceRecipientTimesAndStatus) {
    ReportOptions o;
    o.reference = 5;
    o.recipient = "4912345";
    o.smsc = "";
    o.discharge = "050312142530-08";
    o.status = 0x46;
    const auto r = EncodeStatusReport(o);
    ASSERT_EQ(r.pdus.size(), 1u);
    EXPECT_EQ(r.pdus[0].hex, "00" "06" "05" "0781942143F5" "62217090030040" "50302141520388" "46");
    EXPECT_EQ(r.pdus[0].tpduLength, 23);
    o.reference = 256;
    EXPECT_NE(EncodeStatusReport(o).error, "");
}
