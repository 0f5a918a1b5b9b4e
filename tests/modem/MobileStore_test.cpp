#include "Pdus.h"
#include "ScriptedTransport.h"

#include <gtest/gtest.h>

namespace {

struct StoreFixture : ::testing::Test {
    ScriptedMobile rig;
    CMobile& mobile = *rig.mobile;
    ScriptedTransport& device = *rig.device;
    void Cmgr(int index, const std::string& reply) {
        device.m_answers["AT+CMGR=" + std::to_string(index) + "\r"] = reply;
    }
};

TEST_F(StoreFixture, CountsOfTheCurrentReadStorage) {
    struct Case {
        const char* reply;
        int used, total;
    };
    const Case cases[] = {
        {"+CPMS: \"SM\",5,30,\"ME\",0,100,\"SM\",5,30\r\n\r\nOK\r\n", 5, 30},
        {"+CPMS: SM,5,30,ME,0,100,SM,5,30\r\n\r\nOK\r\n", 5, 30},
        {"+CPMS: \"ME\",12,100,\"SM\",0,30,\"SM\",0,30\r\n\r\nOK\r\n", 12, 100},
        {"+CPMS: \"SM\",5\r\n\r\nOK\r\n", 5, -1},  // no field two places after the name
        {"+CMS ERROR: 314\r\n", -1, -1},
    };
    for (const Case& c : cases) {
        device.m_answers["AT+CPMS?\r"] = c.reply;
        device.m_calls.clear();
        EXPECT_EQ(c.used, mobile.GetUsedCount()) << c.reply;
        EXPECT_EQ(c.total, mobile.GetTotalCount()) << c.reply;
        EXPECT_EQ(4u, device.m_calls.size());  // each count asks twice
        EXPECT_EQ(0, mobile.m_bBusy);
    }
}

TEST_F(StoreFixture, CountIsTakenAfterTheReadStorageNameInTheSecondAnswer) {
    device.m_queued["AT+CPMS?\r"] = {"+CPMS: \"ME\",1,100,\"SM\",2,30,\"SM\",2,30\r\n\r\nOK\r\n",
                                     "+CPMS: \"SM\",9,30,\"ME\",4,100,\"SM\",9,30\r\n\r\nOK\r\n"};
    EXPECT_EQ(4, mobile.GetUsedCount());
    EXPECT_EQ("ME", mobile.m_strStorage);
}

TEST_F(StoreFixture, ReadingAReceivedMessageFillsTheLastReadSlot) {
    Cmgr(4, std::string("+CMGR: 1,,29\r\n") + pdus::HELLO + "\r\n\r\nOK\r\n");
    EXPECT_EQ(1, mobile.ReadStoredMessage(4));
    EXPECT_EQ(4, mobile.m_lastRead.nReference);
    EXPECT_EQ("+491701234567", mobile.m_lastRead.strPhone);
    EXPECT_EQ("Hello world", mobile.m_lastRead.strText);
    EXPECT_EQ("261207093000", mobile.m_lastRead.strTime);
    EXPECT_EQ(1, mobile.m_lastRead.nStorageStatus);
    EXPECT_EQ(KIND_TEXT, mobile.m_lastRead.nKind);
    const ScriptedTransport::Call& call = device.m_calls.at(0);
    EXPECT_EQ("AT+CMGR=4\r", call.command);
    EXPECT_EQ("OK", call.extra);
    EXPECT_EQ(5000, call.timeoutMs);
}

TEST_F(StoreFixture, StoredStatusReportCarriesItsMessageReference) {
    Cmgr(2, std::string("+CMGR: 0,,25\r\n") + pdus::REPORT_42 + "\r\n\r\nOK\r\n");
    EXPECT_EQ(1, mobile.ReadStoredMessage(2));
    EXPECT_EQ(KIND_STATUS_REPORT, mobile.m_lastRead.nKind);
    EXPECT_EQ(42, mobile.m_lastRead.nReference);
    EXPECT_EQ("+491709876543", mobile.m_lastRead.strPhone);
}

TEST_F(StoreFixture, EmptyPlaces) {
    Cmgr(7, "OK\r\n");  // no +CMGR line at all
    EXPECT_EQ(-1, mobile.ReadMessage(7));
    EXPECT_EQ(-1, mobile.ReadStoredMessage(7));

    Cmgr(8, "+CMGR: 0,,0\r\n\r\nOK\r\n");  // length 0, no PDU
    EXPECT_EQ(READ_EMPTY, mobile.ReadMessage(8));
    EXPECT_EQ("", mobile.m_pdu.m_strPhone);
    EXPECT_EQ("", mobile.m_pdu.m_strText);
    EXPECT_EQ(-1, mobile.ReadStoredMessage(8));
    EXPECT_EQ(0, mobile.m_lastRead.nReference);
    EXPECT_EQ("", mobile.m_lastRead.strPhone);
}

TEST_F(StoreFixture, FailedReadLeavesTheLastReadSlotEmpty) {
    Cmgr(4, std::string("+CMGR: 1,,29\r\n") + pdus::HELLO + "\r\n\r\nOK\r\n");
    ASSERT_EQ(1, mobile.ReadStoredMessage(4));
    Cmgr(5, "+CMS ERROR: 321\r\n");
    EXPECT_EQ(-1, mobile.ReadStoredMessage(5));
    EXPECT_EQ("", mobile.m_lastRead.strPhone);
    EXPECT_EQ("", mobile.m_lastRead.strText);
    EXPECT_EQ(0, mobile.m_lastRead.nKind);
}

TEST_F(StoreFixture, UndecodablePduIsHandedOverAsRead) {
    Cmgr(3, "+CMGR: 0,,24\r\n07\r\n\r\nOK\r\n");
    EXPECT_EQ(1, mobile.ReadStoredMessage(3));
    EXPECT_EQ(0, mobile.m_lastRead.bDecoded);
    EXPECT_EQ("07", mobile.m_lastRead.strPdu);
    EXPECT_EQ(3, mobile.m_lastRead.nReference);
    EXPECT_EQ("", mobile.m_lastRead.strPhone);
}

TEST_F(StoreFixture, NegativeIndexesAreRefusedWithoutTalkingToTheModem) {
    EXPECT_EQ(-1, mobile.ReadMessage(-1));
    EXPECT_EQ(-1, mobile.ReadStoredMessage(-2));
    EXPECT_EQ(-1, mobile.DeleteMessage(-1));
    EXPECT_TRUE(device.m_calls.empty());
    // Stores that number from 0 have a place 0.
    Cmgr(0, std::string("+CMGR: 1,,29\r\n") + pdus::HELLO + "\r\n\r\nOK\r\n");
    device.m_answers["AT+CMGD=0\r"] = "OK\r\n";
    EXPECT_EQ(1, mobile.ReadStoredMessage(0));
    EXPECT_EQ(0, mobile.m_lastRead.nReference);
    EXPECT_EQ(1, mobile.DeleteMessage(0));
}

TEST_F(StoreFixture, AListingThatIsRefusedIsNotAskedForAgain) {
    std::vector<int> indexes;
    device.m_answers["AT+CMGL=4\r"] = "+CMS ERROR: 302\r\n";
    EXPECT_EQ(-1, mobile.ListStoredIndexes(indexes));
    EXPECT_EQ(-1, mobile.ListStoredIndexes(indexes));
    EXPECT_EQ(1, device.CountOf("AT+CMGL=4\r"));
}

TEST_F(StoreFixture, Delete) {
    device.m_answers["AT+CMGD=3\r"] = "OK\r\n";
    EXPECT_EQ(1, mobile.DeleteMessage(3));
    EXPECT_EQ(-1, mobile.DeleteMessage(4));
    EXPECT_EQ("OK", device.m_calls.at(0).extra);
    EXPECT_EQ(2000, device.m_calls.at(0).timeoutMs);
    EXPECT_EQ(0, mobile.m_bBusy);
}

}  // namespace
