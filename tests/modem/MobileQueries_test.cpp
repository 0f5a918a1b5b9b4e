#include "ScriptedTransport.h"

#include <gtest/gtest.h>

namespace {

// Battery and signal replies are recorded cases in replies/ (ReplyCaptures_test.cpp).

struct CentreFixture : ::testing::Test {
    ScriptedMobile rig;
    CMobile& mobile = *rig.mobile;
    ScriptedTransport& device = *rig.device;
};

TEST_F(CentreFixture, NumberIsSentWithoutBlanks) {
    device.m_answers["AT+CSCA=\"+491710760000\"\r"] = "OK\r\n";
    EXPECT_EQ(1, mobile.SetServiceCentre("+49 171 0760000"));
    ASSERT_EQ(1u, device.m_calls.size());
    EXPECT_EQ(2000, device.m_calls[0].timeoutMs);
}

TEST_F(CentreFixture, RefusedNumberIsRetriedInUcs2Hex) {
    mobile.m_strCharset = "UCS2";
    device.m_answers["AT+CSCA=\"002B0034003900310037\"\r"] = "OK\r\n";
    EXPECT_EQ(1, mobile.SetServiceCentre("+49 17"));
    EXPECT_EQ((std::vector<std::string>{"AT+CSCA=\"+4917\"\r", "AT+CSCA=\"002B0034003900310037\"\r"}),
              device.Commands());
}

TEST_F(CentreFixture, TwoRefusalsFail) {
    mobile.m_strCharset = "HEX";
    EXPECT_EQ(-1, mobile.SetServiceCentre("+4917"));
    EXPECT_EQ(2u, device.m_calls.size());
    EXPECT_EQ(0, mobile.m_bBusy);
}

TEST_F(CentreFixture, WavecomKeepsAPlainNumberInTheSecondAttempt) {
    mobile.m_strManufacturer = "WAVECOM MODEM";
    mobile.m_strCharset = "HEX";
    EXPECT_EQ(-1, mobile.SetServiceCentre("+491710760000"));
    EXPECT_EQ((std::vector<std::string>{"AT+CSCA=\"+491710760000\"\r", "AT+CSCA=\"+491710760000\"\r"}),
              device.Commands());
}

TEST_F(CentreFixture, EmptyNumberSendsNothing) {
    EXPECT_EQ(-1, mobile.SetServiceCentre(""));
    EXPECT_TRUE(device.m_calls.empty());
}

TEST(EncodeForCharset, FormPerCharacterSet) {
    struct Case {
        const char* manufacturer;
        const char* charset;
        std::string text;
        std::string encoded;
    };
    const Case cases[] = {
        {"MODEMSIM", "UCS2", "+49", "002B00340039"},
        {"MODEMSIM", "HEX", "A", "0041"},
        {"MODEMSIM", "GSM", "AB", "4121"},  // two septets packed
        {"MODEMSIM", "8859-1", "+49", "+49"},
        {"MODEMSIM", "PCCP437", "+49", "+49"},
        {"MODEMSIM", "ucs2", "+49", "+49"},  // the set names are compared exactly
        {"WAVECOM MODEM", "GSM", "+49", "+49"},
        {"WAVECOM MODEM", "HEX", "\xD0\x96", "80" "0416"},  // a Cyrillic letter needs UCS2
        {"MODEMSIM", "UCS2", "", ""},
    };
    for (const Case& c : cases) {
        CMobile mobile;
        mobile.m_strManufacturer = c.manufacturer;
        mobile.m_strCharset = c.charset;
        EXPECT_EQ(c.encoded, mobile.EncodeForCharset(c.text)) << c.manufacturer << " " << c.charset;
    }
}

TEST(Registration, HomeOrRoamingFromCregElseCereg) {
    struct Case {
        const char *creg, *cereg;
        int stat;
    };
    const Case cases[] = {
        {"+CREG: 0,1\r\n\r\nOK\r\n", "ERROR\r\n", 1},
        {"+CREG: 2,5,\"00A1\",\"1B2C\"\r\n\r\nOK\r\n", "ERROR\r\n", 5},
        {"+CREG: 0,2\r\n\r\nOK\r\n", "ERROR\r\n", 2},
        {"+CREG: 0,3\r\n\r\nOK\r\n", "+CEREG: 0,0\r\n\r\nOK\r\n", 3},
        {"+CREG: 0,0\r\n\r\nOK\r\n", "+CEREG: 0,7\r\n\r\nOK\r\n", 7},  // LTE, SMS only
        {"ERROR\r\n", "+CEREG: 0,2\r\n\r\nOK\r\n", 2},
        {"ERROR\r\n", "ERROR\r\n", -1},
    };
    for (const Case& c : cases) {
        ScriptedMobile rig;
        rig.device->m_answers["AT+CREG?\r"] = c.creg;
        rig.device->m_answers["AT+CEREG?\r"] = c.cereg;
        EXPECT_EQ(c.stat, rig.mobile->GetRegistration()) << c.creg << c.cereg;
    }
}

TEST(Identity, QueriesDoNotChangeTheInitialisationValues) {
    ScriptedMobile rig;
    rig.AnswerLikeAModem();
    rig.mobile->m_strManufacturer = "OLD";
    rig.mobile->m_strModel = "OLD-1";
    EXPECT_EQ("351234567890123", rig.mobile->GetImei());
    EXPECT_EQ("MODEMSIM", rig.mobile->GetManufacturer());
    EXPECT_EQ("MS-100", rig.mobile->GetModel());
    EXPECT_EQ("OLD", rig.mobile->m_strManufacturer);
    EXPECT_EQ("OLD-1", rig.mobile->m_strModel);
}

TEST(Identity, ImeiFromTheSecondCommand) {
    ScriptedMobile rig;
    rig.device->m_answers["AT+GSN\r"] = "490154203237518\r\n\r\nOK\r\n";
    EXPECT_EQ("490154203237518", rig.mobile->GetImei());
    EXPECT_EQ((std::vector<std::string>{"AT+CGSN\r", "AT+GSN\r"}), rig.device->Commands());
}

}  // namespace
