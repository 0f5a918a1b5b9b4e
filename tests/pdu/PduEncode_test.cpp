// SMS-SUBMIT encoding: header, plain segmentation and the concatenated long encoding.
#include <gtest/gtest.h>

#include <string>

#include "pdu/SmsPdu.h"

namespace {

CSmsPdu Message(const std::string& phone, const std::string& text, int kind = KIND_TEXT, int report = 0) {
    CSmsPdu pdu;
    pdu.m_strPhone = phone;
    pdu.m_strText = text;
    pdu.m_nKind = kind;
    pdu.m_bReportRequest = report;
    return pdu;
}

// Octet k of a PDU as a number.
int Octet(const std::string& pdu, std::size_t k) { return std::stoi(pdu.substr(2 * k, 2), nullptr, 16); }

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(PduEncode, ShortTextGivesOneSubmitPdu) {
    struct Case {
        const char* phone;
        const char* text;
        int kind;
        int report;
        const char* pdu;
    } cases[] = {
        {"+123", "Hi", KIND_TEXT, 0, "001100039121F30000AD02C834"},
        {"+123", "Hi", KIND_TEXT, 1, "003100039121F30000AD02C834"},
        {"12345", "Hi", KIND_TEXT, 0, "00110005812143F50000AD02C834"},
        {"+49 171-234", "Hi", KIND_TEXT, 0, "0011000891947121430000AD02C834"},  // separators dropped
        {"+123", "Hi", KIND_DATA, 0, "001100039121F30000AD02C834"},
        {"+123", "Hi", KIND_CLASSED, 0, "001100039121F30010AD02C834"},
        {"+123", "{Hi}", KIND_CLASSED, 0, "001100039121F30010AD061B1432BD4901"},
        {"+491701234567", "10€ [ok]", KIND_TEXT, 0, "0011000C919471103254760000AD0B31D8A60CDAF0DEEB8D0F"},
        {"+123", "¤", KIND_TEXT, 0, "001100039121F30000AD0124"},
        {"+123", "Привет", KIND_TEXT, 0, "001100039121F30008AD0C041F04400438043204350442"},
        {"+123", "L35", KIND_CLASSED, 0, "001100039121F30014AD034C3335"},
        {"+123", "abc", KIND_MARKED, 0, "001100039121F30008AD0A00010061006200630001"},
        {"+123", "a^b", KIND_MARKED, 0, "001100039121F30008AD06006100010062"},
        {"+123", "olá", KIND_TEXT, 0, "001100039121F30008AD06006F006C00E1"},
    };
    for (const auto& c : cases) {
        CSmsPdu pdu = Message(c.phone, c.text, c.kind, c.report);
        ASSERT_EQ(pdu.EncodeText(), PDU_OK) << c.text;
        ASSERT_EQ(pdu.m_nSegmentCount, 1);
        EXPECT_EQ(pdu.m_pdusOut[0].substr(0, std::string(c.pdu).size()), c.pdu) << c.phone << " " << c.text;
    }
}

TEST(PduEncode, MarkedKindWrapsTheTextInCarets) {
    CSmsPdu pdu = Message("+1", "abc", KIND_MARKED);
    ASSERT_EQ(pdu.EncodeText(), PDU_OK);
    EXPECT_EQ(pdu.m_strText, "^abc^");
}

TEST(PduEncode, ValidityMinutesMapToRelativeBands) {
    const std::pair<int, int> cases[] = {
        {4, 0x00},     {5, 0x00},      {60, 0x0B},     {719, 0x8E},     {720, 0x8F},   {1439, 0xA6},
        {1440, 0xA7},  {10080, 0xAD},  {43199, 0xC3},  {43200, 0xC4},   {302399, 0xDD}, {302400, 0xFF},
        {5000000, 0xFF},
    };
    for (auto [minutes, vp] : cases) {
        CSmsPdu pdu = Message("+123", "Hi");
        pdu.m_nValidityMinutes = minutes;
        ASSERT_EQ(pdu.BuildHeader(), PDU_OK);
        EXPECT_EQ(Octet(pdu.m_strHeader, 1), 0x11);
        EXPECT_EQ(Octet(pdu.m_strHeader, 9), vp) << minutes;
    }
    // Without a validity no TP-VPF bit is set and no TP-VP octet follows.
    CSmsPdu none = Message("+123", "Hi");
    none.m_nValidityMinutes = 0;
    ASSERT_EQ(none.EncodeText(), PDU_OK);
    EXPECT_EQ(none.m_pdusOut[0], "000100039121F3000002C834");
}

TEST(PduEncode, UnusableDestinationIsRefused) {
    for (const char* phone : {"", "+123456789012345678901"}) {
        CSmsPdu pdu = Message(phone, "Hi");
        EXPECT_EQ(pdu.BuildHeader(), PDU_NO_ADDRESS) << phone;
        EXPECT_EQ(pdu.m_strHeader, "") << phone;
        EXPECT_EQ(pdu.EncodeText(), PDU_NO_ADDRESS) << phone;
        EXPECT_EQ(pdu.EncodeLong(), PDU_NO_ADDRESS) << phone;
        EXPECT_EQ(pdu.m_nSegmentCount, 0) << phone;
    }
    CSmsPdu twenty = Message("+12345678901234567890", "Hi");
    EXPECT_EQ(twenty.EncodeText(), PDU_OK);
}

struct SplitCase {
    const char* name;
    std::string text;
    int kind;
    std::vector<int> udls;
};

TEST(PduEncode, PlainEncodingSplitsIntoIndependentMessages) {
    const SplitCase cases[] = {
        {"7-bit 160", std::string(160, 'a'), KIND_TEXT, {160}},
        {"7-bit 161", std::string(161, 'a'), KIND_TEXT, {160, 1}},
        {"7-bit 321", std::string(321, 'a'), KIND_TEXT, {160, 160, 1}},
        {"UCS2 71", Repeat("ж", 71), KIND_TEXT, {140, 2}},
        {"8-bit 141", "L35" + std::string(138, 'x'), KIND_TEXT, {140, 1}},
        // 69 characters then an emoji: the pair moves whole into the second message.
        {"surrogates", std::string(69, 'a') + "😀", KIND_TEXT, {138, 4}},
        // A text of the Greek capitals of the default alphabet stays 7-bit.
        {"Greek 160", Repeat("ΔΦΓΛΩΠΨΣΘΞ", 16), KIND_TEXT, {160}},
        {"Greek 161", Repeat("ΔΦΓΛΩΠΨΣΘΞ", 16) + "Ω", KIND_TEXT, {160, 1}},
    };
    for (const auto& c : cases) {
        CSmsPdu pdu = Message("+123", c.text, c.kind, 1);
        ASSERT_EQ(pdu.EncodeText(), PDU_OK) << c.name;
        ASSERT_EQ(pdu.m_nSegmentCount, static_cast<int>(c.udls.size())) << c.name;
        for (std::size_t i = 0; i < c.udls.size(); ++i) {
            const std::string& p = pdu.m_pdusOut[i];
            const bool last = i + 1 == c.udls.size();
            EXPECT_EQ(Octet(p, 1), last ? 0x31 : 0x11) << c.name << " first octet, segment " << i;
            EXPECT_EQ(Octet(p, 10), c.udls[i]) << c.name << " TP-UDL, segment " << i;
        }
    }
}

// The fill bits after the last septet are zero, also where the next message's septets
// would follow in one packing of the whole text.
TEST(PduEncode, FillBitsAfterTheLastSeptetAreZero) {
    const struct {
        const char* name;
        std::string text;
        int lastOctet;  // of the first message's user data
    } cases[] = {
        {"escape after 159 septets", std::string(159, 'a') + "€", 0x01},
        {"escape after 159 septets, then more", std::string(159, 'a') + "[" + std::string(20, 'b'), 0x01},
        {"exactly 160 septets", std::string(161, 'a'), 0xC3},
    };
    for (const auto& c : cases) {
        CSmsPdu pdu = Message("+123", c.text);
        ASSERT_EQ(pdu.EncodeText(), PDU_OK) << c.name;
        ASSERT_GE(pdu.m_nSegmentCount, 2) << c.name;
        const std::string& first = pdu.m_pdusOut[0];
        EXPECT_EQ(Octet(first, first.size() / 2 - 1), c.lastOctet) << c.name;
    }
}

TEST(PduEncode, TextsBeyondSixtyFourSegmentsAreRefused) {
    struct Case {
        const char* name;
        std::string unit;
        int perSegment;
        int kind;
    } cases[] = {
        {"7-bit", "a", 160, KIND_TEXT},
        {"UCS2", "ж", 70, KIND_TEXT},
        {"long 7-bit", "a", 153, KIND_LONG},
        {"long UCS2", "ж", 67, KIND_LONG},
    };
    for (const auto& c : cases) {
        const std::string text = Repeat(c.unit, 64 * c.perSegment);
        CSmsPdu fits = Message("+1", text, c.kind);
        ASSERT_EQ(c.kind == KIND_LONG ? fits.EncodeLong() : fits.EncodeText(), PDU_OK) << c.name;
        EXPECT_EQ(fits.m_nSegmentCount, 64) << c.name;
        CSmsPdu over = Message("+1", text + c.unit, c.kind);
        EXPECT_EQ(c.kind == KIND_LONG ? over.EncodeLong() : over.EncodeText(), PDU_TOO_LONG) << c.name;
        EXPECT_EQ(over.m_nSegmentCount, 0) << c.name;
        EXPECT_TRUE(over.m_pdusOut.empty()) << c.name;
    }
}

TEST(PduEncode, LongEncodingConcatenatesInTheTextsOwnCoding) {
    struct Case {
        const char* name;
        std::string text;
        int dcs;
        std::vector<int> udls;
    } cases[] = {
        // 7-bit: 7 septets of header (48 bits and one fill bit), then 153 septets of text.
        {"7-bit", std::string(300, 'x'), 0x00, {160, 7 + 147}},
        // The escape of '€' would be septet 153: the pair moves whole into the next segment.
        {"7-bit escape", std::string(152, 'a') + "€" + std::string(20, 'b'), 0x00, {7 + 152, 7 + 22}},
        {"8-bit token", "L35" + std::string(297, 'x'), 0x04, {140, 140, 6 + 32}},
        {"UCS2", Repeat("ж", 100), 0x08, {140, 6 + 66}},
        // 66 units then an emoji: the 67th unit would split the pair, so it starts the next part.
        {"surrogates", std::string(66, 'a') + "😀" + std::string(10, 'b'), 0x08, {6 + 132, 6 + 24}},
    };
    int previousRef = -1;
    for (const auto& c : cases) {
        CSmsPdu pdu = Message("+123", c.text, KIND_LONG, 1);
        ASSERT_EQ(pdu.EncodeLong(), PDU_OK) << c.name;
        ASSERT_EQ(pdu.m_nSegmentCount, static_cast<int>(c.udls.size())) << c.name;
        const int ref = Octet(pdu.m_pdusOut[0], 14);
        if (previousRef >= 0) {
            EXPECT_EQ(ref, (previousRef + 1) & 0xFF) << c.name;  // consecutive references
        }
        previousRef = ref;
        for (std::size_t i = 0; i < c.udls.size(); ++i) {
            const std::string& p = pdu.m_pdusOut[i];
            const bool last = i + 1 == c.udls.size();
            EXPECT_EQ(Octet(p, 1), last ? 0x71 : 0x51) << c.name;  // report request on the last only
            EXPECT_EQ(Octet(p, 8), c.dcs) << c.name;
            EXPECT_EQ(Octet(p, 10), c.udls[i]) << c.name << " segment " << i;
            EXPECT_EQ(p.substr(22, 6), "050003") << c.name;
            EXPECT_EQ(Octet(p, 14), ref) << c.name;
            EXPECT_EQ(Octet(p, 15), static_cast<int>(c.udls.size())) << c.name;
            EXPECT_EQ(Octet(p, 16), static_cast<int>(i + 1)) << c.name;
            const std::size_t octets = c.dcs == 0x00 ? (c.udls[i] * 7 + 7) / 8 : c.udls[i];
            EXPECT_EQ(p.size() / 2, 11 + octets) << c.name << " segment " << i;
        }
    }
}

TEST(PduEncode, LongEncodingOfAShortTextHasNoHeader) {
    const std::pair<std::string, const char*> cases[] = {
        {std::string(160, 'x'), "001100039121F30000ADA0"},
        {Repeat("ж", 70), "001100039121F30008AD8C"},
        {"L35" + std::string(137, 'x'), "001100039121F30004AD8C"},
    };
    for (const auto& [text, head] : cases) {
        CSmsPdu pdu = Message("+123", text, KIND_LONG);
        ASSERT_EQ(pdu.EncodeLong(), PDU_OK) << head;
        ASSERT_EQ(pdu.m_nSegmentCount, 1) << head;
        EXPECT_EQ(pdu.m_pdusOut[0].substr(0, 22), head);
    }
}

// Parts of concatenated messages produced by gammu's PDU encoder (python-gammu 3.2.4, our test
// peer): the user data after the reference octet must be the same octets.
TEST(PduEncode, LongEncodingMatchesAnotherEncodersUserData) {
    const std::string price = "Price {EUR}: 5€ [ok] | ~^\\ ";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {Repeat("Привет 😀 встреча в 5 часов! ", 5),
         {"8C0500031B0301041F044004380432043504420020D83DDE000020043204410442044004350447043000200432002000350020"
          "044704300441043E043200210020041F044004380432043504420020D83DDE00002004320441044204400435044704300020043200"
          "2000350020044704300441043E043200210020041F044004380432043504420020D83DDE00",
          "8C0500031B03020020043204410442044004350447043000200432002000350020044704300441043E043200210020041F0440043804"
          "32043504420020D83DDE000020043204410442044004350447043000200432002000350020044704300441043E043200210020041F"
          "044004380432043504420020D83DDE00002004320441044204400435044704300020",
          "1C0500031B03030432002000350020044704300441043E043200210020"}},
        {Repeat(price, 7),
         {"A00500031B0201A0F2F4B80CDAA08A55E926A503D53665D086F75E6F7CA00D10B4E96D289B17082A4F8FCBA00DAA58956E523A"
          "506D53066D78EFF5C607DA00419BDE86B27981A0F2F4B80CDAA08A55E926A503D53665D086F75E6F7CA00D10B4E96D289B1708"
          "2A4F8FCBA00DAA58956E523A506D53066D78EFF5C607DA00419BDE86B27981A0F2F4B80CDAA08A",
          "6A0500031B0202AAD24D4A07AA6DCAA00DEFBDDEF8401B2068D3DB50362F10549E1E97411B54B12ADDA474A0DAA60CDAF0DEEB"
          "8D0FB4018236BD0D65F30241E5E97119B44115ABD24D4A07AA6DCAA00DEFBDDEF8401B2068D3DB50362F10"}},
    };
    for (const auto& [text, parts] : cases) {
        CSmsPdu pdu = Message("+420123456789", text, KIND_LONG);
        ASSERT_EQ(pdu.EncodeLong(), PDU_OK);
        ASSERT_EQ(pdu.m_nSegmentCount, static_cast<int>(parts.size()));
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const std::string ours = pdu.m_pdusOut[i].substr(28);  // from TP-UDL
            EXPECT_EQ(ours.substr(0, 8), parts[i].substr(0, 8)) << i;
            EXPECT_EQ(ours.substr(10), parts[i].substr(10)) << i;
        }
    }
}

}  // namespace
