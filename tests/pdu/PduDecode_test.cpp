// Decoding of received, stored and status-report PDUs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "pdu/SmsPdu.h"

namespace {

CSmsPdu Decoded(const std::string& hex, int storageStatus = 0) {
    CSmsPdu pdu;
    pdu.m_strPduIn = hex;
    pdu.m_nStorageStatus = storageStatus;
    EXPECT_EQ(pdu.Decode(), PDU_OK) << hex;
    return pdu;
}

std::string Hex2(int v) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
    return buf;
}

// A DELIVER from +123 stamped 05-06-14 12:00:00 with the given first octet, DCS and user data.
std::string Deliver(int dcs, int udl, const std::string& ud, int first = 0x04) {
    return "00" + Hex2(first) + "039121F300" + Hex2(dcs) + "50604121000000" + Hex2(udl) + ud;
}

struct RealPdu {
    const char* source;
    const char* hex;
    const char* phone;
    const char* time;
    const char* text;
    int kind;
};

TEST(PduDecode, RealPdusDecodeToTheirFields) {
    const RealPdu cases[] = {
        {"SMS-DELIVER example of the widely copied \"SMS and the PDU format\" tutorial",
         "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37", "27838890001",
         "990329151659", "hellohello", KIND_TEXT},
        {"SMS-DELIVER example of the Wikipedia article on GSM 03.40",
         "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07", "+31641600986",
         "020826193741", "How are you?", KIND_TEXT},
        {"alphanumeric sender, produced by gammu's PDU encoder (python-gammu 3.2.4)",
         "0791246030500200000CD0C7F7FBCC2E0300004250607080900015C7564C36A3D56CA0F41C947FD7E5A0F19B5C06",
         "Google", "240506070809", "G-123456 is your code", KIND_TEXT},
        {"status report from a Dutch network, fields confirmed with gammu's decoder",
         "07911326060032F006D60B911326880736F4111011719551401110117195714000", "+31628870634",
         "110111175915", "110111175917 Delivered ", KIND_STATUS_REPORT},
        {"the codec's own SUBMIT read back from the store", "001100039121F30000AD02C834", "+123",
         "000101000000", "Hi", KIND_TEXT},
    };
    for (const auto& c : cases) {
        const CSmsPdu pdu = Decoded(c.hex);
        EXPECT_EQ(pdu.m_strPhone, c.phone) << c.source;
        EXPECT_EQ(pdu.m_strTime, c.time) << c.source;
        EXPECT_EQ(pdu.m_strText, c.text) << c.source;
        EXPECT_EQ(pdu.m_nKind, c.kind) << c.source;
    }
    EXPECT_EQ(Decoded(cases[3].hex).m_nReference, 0xD6);
}

struct CodingCase {
    int dcs;
    int udl;
    const char* ud;
    const char* text;
    int kind;
};

TEST(PduDecode, CodingFollowsTheDataCodingGroups) {
    const CodingCase cases[] = {
        {0x00, 2, "C834", "Hi", KIND_TEXT},
        {0x04, 2, "4869", "Hi", KIND_DATA},
        {0x04, 3, "480069", "H\uFFFDi", KIND_DATA},  // a NUL octet stands in as U+FFFD
        {0x08, 4, "00480069", "Hi", KIND_TEXT},  // exactly the characters, no added spaces
        {0x0C, 2, "4869", "Hi", KIND_DATA},
        {0x10, 2, "C834", "Hi", KIND_CLASSED},
        {0x14, 2, "4869", "Hi", KIND_CLASSED},
        {0x18, 4, "00480069", "Hi", KIND_CLASSED},
        {0x20, 2, "C834", "Hi", KIND_TEXT},
        {0xC0, 2, "C834", "Hi", KIND_TEXT},      // message waiting, discard
        {0xD8, 2, "C834", "Hi", KIND_TEXT},      // voicemail indication, store
        {0xE0, 4, "00480069", "Hi", KIND_TEXT},  // message waiting, UCS2
        {0xE8, 4, "00480069", "Hi", KIND_TEXT},
        {0xF0, 2, "C834", "Hi", KIND_TEXT},      // data coding / message class
        {0xF1, 2, "C834", "Hi", KIND_TEXT},
        {0xF4, 2, "4869", "Hi", KIND_DATA},
        {0xF6, 2, "4869", "Hi", KIND_DATA},
        {0x80, 2, "C834", "Hi", KIND_TEXT},      // reserved groups read as 7-bit
        {0x08, 6, "0061D83DDE00", "a😀", KIND_TEXT},
        {0x08, 6, "000100480001", "^H^", KIND_MARKED},
        {0x08, 6, "004800000069", "H", KIND_TEXT},
        {0x00, 2, "811A", "£5", KIND_TEXT},
        {0x00, 2, "5C36", "Öl", KIND_TEXT},  // octets that look like ASCII stay 7-bit
        {0x00, 5, "A4EFA65C03", "¤§€5", KIND_TEXT},
        {0x00, 6, "1BD47BBD4901", "{ok}", KIND_TEXT},
        {0x00, 10, "10C98452B15C30190D", "ΔΦΓΛΩΠΨΣΘΞ", KIND_TEXT},
        // 8-bit data marked as 7-bit: TP-UDL whole octets of readable text.
        {0x00, 12, "48656C6C6F20776F726C6421", "Hello world!", KIND_DATA},
    };
    for (const auto& c : cases) {
        const CSmsPdu pdu = Decoded(Deliver(c.dcs, c.udl, c.ud));
        EXPECT_EQ(pdu.m_strText, c.text) << "DCS " << Hex2(c.dcs) << " " << c.ud;
        EXPECT_EQ(pdu.m_nKind, c.kind) << "DCS " << Hex2(c.dcs) << " " << c.ud;
        EXPECT_EQ(pdu.m_strPhone, "+123");
        EXPECT_EQ(pdu.m_strTime, "050614120000");
    }
    EXPECT_EQ(Decoded(Deliver(0x00, 12, "48656C6C6F20776F726C6421")).m_nDcs, 0x04);
}

TEST(PduDecode, UserDataHeaderIsRemovedOnlyWhenIndicated) {
    // Without TP-UDHI a first octet of 01..0F is text: '$' is septet 02.
    EXPECT_EQ(Decoded(Deliver(0x00, 3, "82180C")).m_strText, "$10");
    EXPECT_EQ(Decoded(Deliver(0x04, 7, "05000312020141")).m_strText, "\x05\uFFFD\x03\x12\x02\x01" "A");
    // With TP-UDHI the header goes, and its concatenation element is kept.
    const CSmsPdu data = Decoded(Deliver(0x04, 7, "05000312020141", 0x44));
    EXPECT_EQ(data.m_strText, "A");
    EXPECT_EQ(data.m_strUserHeader, "050003120201");
    EXPECT_EQ(data.m_nConcatRef, 0x12);
    EXPECT_EQ(data.m_nConcatTotal, 2);
    EXPECT_EQ(data.m_nConcatSeq, 1);
    // 16-bit reference element, UCS2 text.
    const CSmsPdu wide = Decoded(Deliver(0x08, 11, "0608041234030200480069", 0x44));
    EXPECT_EQ(wide.m_strText, "Hi");
    EXPECT_EQ(wide.m_nConcatRef, 0x1234);
    EXPECT_EQ(wide.m_nConcatTotal, 3);
    EXPECT_EQ(wide.m_nConcatSeq, 2);
    // A plain message has no concatenation information.
    EXPECT_EQ(Decoded(Deliver(0x00, 2, "C834")).m_nConcatTotal, 0);
}

TEST(PduDecode, StatusReportsTellDeliveredFromRejected) {
    const std::string head = "0006D70B911326880736F4";
    const std::string times = "1110117195514011101171957140";
    const std::pair<const char*, int> statuses[] = {{"00", 1}, {"30", 0}, {"01", 0}, {"45", 0}};
    for (auto [st, delivered] : statuses) {
        const CSmsPdu pdu = Decoded(head + times + st);
        EXPECT_EQ(pdu.m_nKind, KIND_STATUS_REPORT);
        EXPECT_EQ(pdu.m_nReference, 0xD7);
        EXPECT_EQ(pdu.m_strPhone, "+31628870634");
        EXPECT_EQ(pdu.m_bDelivered, delivered) << st;
        EXPECT_EQ(pdu.m_strText, delivered ? "110111175917 Delivered " : "110111175917 Rejected ") << st;
    }
}

TEST(PduDecode, StoredSubmitsSkipTheirValidityPeriod) {
    // No TP-VP, relative TP-VP, absolute TP-VP (7 octets).
    const char* pdus[] = {"000100039121F3000002C834", "001100039121F30000AD02C834",
                          "001900039121F300005060412100000002C834"};
    for (const char* hex : pdus)
        for (int status : {2, 3}) {
            const CSmsPdu pdu = Decoded(hex, status);
            EXPECT_EQ(pdu.m_strPhone, "+123") << hex;
            EXPECT_EQ(pdu.m_strText, "Hi") << hex;
            EXPECT_EQ(pdu.m_strTime, "000101000000") << hex;
        }
}

TEST(PduDecode, AlphanumericOriginatorsAreText) {
    // "BANK": 4 septets in 28 bits, 7 semi-octets.
    for (const char* type : {"D0", "50"}) {
        const std::string hex = std::string("000407") + type + "C2A0730900004150702143650002C834";
        const CSmsPdu pdu = Decoded(hex);
        EXPECT_EQ(pdu.m_strPhone, "BANK") << type;
        EXPECT_EQ(pdu.m_strText, "Hi") << type;
    }
}

TEST(PduDecode, MalformedPdusAreRefusedWithAReason) {
    struct Case {
        const char* name;
        std::string hex;
        int storageStatus;
        int result;
    } cases[] = {
        {"empty", "", 0, PDU_TOO_SHORT},
        {"one octet", "00", 0, PDU_TOO_SHORT},
        {"odd digit count", "0004039121F30", 0, PDU_MALFORMED},
        {"not hex", "00ZZ039121F300005060412100000002C834", 0, PDU_MALFORMED},
        {"service-centre length beyond the end", "07919471016700", 0, PDU_MALFORMED},
        {"no first octet after the service centre", "0191", 0, PDU_MALFORMED},
        {"stored SUBMIT without its message reference", "0011", 2, PDU_MALFORMED},
        {"address length past the end", "00040D91945111", 0, PDU_MALFORMED},
        {"no PID and DCS", "0004039121F3", 0, PDU_MALFORMED},
        {"cut time stamp", "0791947101670000040D91945111325476F80000423050", 0, PDU_MALFORMED},
        {"no TP-UDL", "0004039121F3000050604121000000", 0, PDU_MALFORMED},
        {"cut validity period", "001900039121F300005060", 2, PDU_MALFORMED},
        {"7-bit: fewer octets than TP-UDL septets need", Deliver(0x00, 4, "C834"), 0, PDU_MALFORMED},
        {"8-bit: fewer octets than TP-UDL", Deliver(0x04, 3, "4869"), 0, PDU_MALFORMED},
        {"UCS2: fewer octets than TP-UDL", Deliver(0x08, 6, "00480069"), 0, PDU_MALFORMED},
        {"UDH longer than the 8-bit user data", Deliver(0x04, 3, "050003", 0x44), 0, PDU_MALFORMED},
        {"UDH longer than the 7-bit user data", Deliver(0x00, 6, "050003120201", 0x44), 0, PDU_MALFORMED},
        {"UDHI without user data", Deliver(0x00, 0, "", 0x44), 0, PDU_MALFORMED},
        {"status report without its status octet", "0006D70B911326880736F41110117195514011101171957140", 0,
         PDU_MALFORMED},
        // The reserved message type is neither a DELIVER nor a status report.
        {"reserved message type", Deliver(0x00, 2, "C834", 0x07), 0, PDU_MALFORMED},
        {"reserved message type, stored", "000300039121F3000002C834", 2, PDU_MALFORMED},
        {"reserved message type like a report", "0007D70B911326880736F4111011719551401110117195714000", 1,
         PDU_MALFORMED},
        // An address value holds at most 20 digits.
        {"21-digit originator", "0004159121436587092143658709F1000050604121000000" "02C834", 0, PDU_MALFORMED},
        {"105-digit originator", "00046991" + std::string(106, '1') + "000050604121000000" "02C834", 0,
         PDU_MALFORMED},
    };
    for (const auto& c : cases) {
        CSmsPdu pdu;
        pdu.m_strPduIn = c.hex;
        pdu.m_nStorageStatus = c.storageStatus;
        pdu.m_nReference = 7;
        EXPECT_EQ(pdu.Decode(), c.result) << c.name;
        EXPECT_NE(std::string(pdu.m_pszDecodeError), "") << c.name;
        EXPECT_EQ(pdu.m_nReference, 7) << c.name;  // kept for the caller
        EXPECT_EQ(pdu.m_strPhone + pdu.m_strText, "") << c.name;
    }
    // A 7-bit header that exactly fills the septets it announces leaves an empty text.
    EXPECT_EQ(Decoded(Deliver(0x00, 7, "05000312020100", 0x44)).m_strText, "");
    // Every proper prefix of a complete PDU is refused; the whole PDU decodes.
    const std::string pdus[] = {"07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07",
                                "07911326060032F006D60B911326880736F4111011719551401110117195714000",
                                Deliver(0x08, 11, "0608041234030200480069", 0x44)};
    for (const auto& full : pdus) {
        for (std::size_t n = 0; n < full.size(); ++n) {
            CSmsPdu pdu;
            pdu.m_strPduIn = full.substr(0, n);
            EXPECT_NE(pdu.Decode(), PDU_OK) << pdu.m_strPduIn;
        }
        Decoded(full);
    }
}

TEST(PduDecode, AddressKeepsExactlyItsAnnouncedDigits) {
    // Odd digit counts end with a filler nibble, whatever its value; extra octets after the
    // user data are ignored.
    EXPECT_EQ(Decoded("0004039121E300005060412100000002C834").m_strPhone, "+123");
    EXPECT_EQ(Decoded("0004049121F300005060412100000002C834").m_strPhone, "+123");
    EXPECT_EQ(Decoded(Deliver(0x00, 2, "C83400")).m_strText, "Hi");
    EXPECT_EQ(Decoded("0004149121436587092143658709000050604121000000" "02C834").m_strPhone, "+12345678901234567890");
}

// Parts of concatenated messages produced by gammu's PDU encoder (python-gammu 3.2.4, our test
// peer): 7-bit with 8-bit and 16-bit references, UCS2 with emoji, 7-bit with escape septets.
struct Concatenated {
    const char* name;
    const char* text;
    std::vector<std::string> parts;
};

TEST(PduDecode, ConcatenatedPartsReassembleToTheSentText) {
    const Concatenated cases[] = {
    {"seven8", "Meet me at the station at 5 pm, platform 2. Bring the tickets please! Meet me at the station at 5 pm, platform 2. Bring the tickets please! Meet me at the station at 5 pm, platform 2. Bring the tickets please! ", {"0791246030500200400C91241032547698000042506070809000A00500031B02019AE5321DD42E83C274101D5D06CDE9617AFAED0685E9A01A08DE6681E0EC30DDFC96B741321748284FBBCF203ABA0CA2A7C7EB327D0E82B3CBE17939046A96CB7450BB0C0AD34174741934A787E9E9B71B14A6836A20789B0582B3C374F35BDE06C95C20A13CED3E83E8E832889E1EAFCBF43908CE2E87E7E510A8592ED341ED32284C07D1D1",
      "0791246030500200400C91241032547698000042506070809000400500031B0202CAA0393D4C4FBFDDA0301D5403C1DB2C109C1DA69BDFF23648E60209E569F71944479741F4F4785DA6CF417076393C2F8740"}},
    {"ucs2", "Привет 😀 встреча в 5 часов! Привет 😀 встреча в 5 часов! Привет 😀 встреча в 5 часов! Привет 😀 встреча в 5 часов! Привет 😀 встреча в 5 часов! ", {"0791246030500200400C912410325476980008425060708090008C0500031B0301041F044004380432043504420020D83DDE000020043204410442044004350447043000200432002000350020044704300441043E043200210020041F044004380432043504420020D83DDE000020043204410442044004350447043000200432002000350020044704300441043E043200210020041F044004380432043504420020D83DDE00",
      "0791246030500200400C912410325476980008425060708090008C0500031B03020020043204410442044004350447043000200432002000350020044704300441043E043200210020041F044004380432043504420020D83DDE000020043204410442044004350447043000200432002000350020044704300441043E043200210020041F044004380432043504420020D83DDE00002004320441044204400435044704300020",
      "0791246030500200400C912410325476980008425060708090001C0500031B03030432002000350020044704300441043E043200210020"}},
    {"seven16", "Order 12345 shipped. Order 12345 shipped. Order 12345 shipped. Order 12345 shipped. Order 12345 shipped. Order 12345 shipped. Order 12345 shipped. Order 12345 shipped. Order 12345 shipped. ", {"0791246030500200400C91241032547698000042506070809000A0060804091B02014F39B92C07C564335A0D3447A7E1F032D9057ACAC9653928269BD16AA0393A0D8797C92ED0534E2ECB4131D98C5603CDD16938BC4C76819E7272590E8AC966B41A688E4EC3E165B20BF49493CB72504C36A3D54073741A0E2F935DA0A79C5C968362B219AD069AA3D3707899EC023DE5E4B21C1493CD6835D01C9D86C3CB6417E8292797E5",
      "0791246030500200400C912410325476980000425060708090002D060804091B0202A0986C46AB81E6E8341C5E26BB404F39B92C07C564335A0D3447A7E1F032D90502"}},
    {"escapes", "Price {EUR}: 5€ [ok] | ~^\\ Price {EUR}: 5€ [ok] | ~^\\ Price {EUR}: 5€ [ok] | ~^\\ Price {EUR}: 5€ [ok] | ~^\\ Price {EUR}: 5€ [ok] | ~^\\ Price {EUR}: 5€ [ok] | ~^\\ Price {EUR}: 5€ [ok] | ~^\\ ", {"0791246030500200400C91241032547698000042506070809000A00500031B0201A0F2F4B80CDAA08A55E926A503D53665D086F75E6F7CA00D10B4E96D289B17082A4F8FCBA00DAA58956E523A506D53066D78EFF5C607DA00419BDE86B27981A0F2F4B80CDAA08A55E926A503D53665D086F75E6F7CA00D10B4E96D289B17082A4F8FCBA00DAA58956E523A506D53066D78EFF5C607DA00419BDE86B27981A0F2F4B80CDAA08A",
      "0791246030500200400C912410325476980000425060708090006A0500031B0202AAD24D4A07AA6DCAA00DEFBDDEF8401B2068D3DB50362F10549E1E97411B54B12ADDA474A0DAA60CDAF0DEEB8D0FB4018236BD0D65F30241E5E97119B44115ABD24D4A07AA6DCAA00DEFBDDEF8401B2068D3DB50362F10"}},
    };
    for (const auto& c : cases) {
        std::vector<CSmsPdu> parts;
        for (const auto& hex : c.parts) parts.push_back(Decoded(hex));
        std::reverse(parts.begin(), parts.end());  // arrival order does not matter
        std::sort(parts.begin(), parts.end(),
                  [](const CSmsPdu& a, const CSmsPdu& b) { return a.m_nConcatSeq < b.m_nConcatSeq; });
        std::string text;
        for (const auto& p : parts) {
            EXPECT_EQ(p.m_nConcatRef, parts[0].m_nConcatRef) << c.name;
            EXPECT_EQ(p.m_nConcatTotal, static_cast<int>(c.parts.size())) << c.name;
            EXPECT_EQ(p.m_strPhone, "+420123456789") << c.name;
            text += p.m_strText;
        }
        EXPECT_EQ(text, c.text) << c.name;
    }
}

}  // namespace
