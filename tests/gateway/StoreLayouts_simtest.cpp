// Modems whose stores behave otherwise than the book: other AT+CMGR header layouts, places
// numbered from 0, no listing, fewer stores, and PDUs that are garbage. Each message reaches
// the inbox once and leaves the modem; garbage goes to the reject store and leaves it too.
#include "GatewayRig.h"

#include <gtest/gtest.h>


namespace {

std::vector<std::string> Inbox(GatewayRig& rig) {
    return rig.Rows("select phone, msgbody from smsin order by msgbody", {"phone", "msgbody"});
}

bool ModemEmpty(GatewayRig& rig) { return rig.sim.Control("LIST") == "OK\n"; }

// The reject table as "store index pdu" lines.
std::string RejectedText(GatewayRig& rig) {
    std::string text;
    for (const std::string& row : StateRows(rig.StatePath(), "select store || ' ' || idx || ' ' || pdu from rejected"))
        text += " " + row + "\n";
    return text;
}

// AT+CMGR commands the simulator saw since its record was cleared.
int ReadCommands(GatewayRig& rig, int* all = nullptr) {
    int reads = 0, commands = 0;
    for (const std::string& line : rig.sim.Records()) {
        if (line.find("\"kind\":\"command\"") == std::string::npos) continue;
        ++commands;
        if (line.find("\"text\":\"AT+CMGR=") != std::string::npos) ++reads;
    }
    if (all) *all = commands;
    return reads;
}

}  // namespace

// Per profile: one message announced with +CMTI (read and deleted on the indication's road)
// and one left silently in the other store (found by the store scan).
TEST(GatewayStoreLayouts, EveryLayoutDeliversEachMessageOnceAndEmptiesTheModem) {
    const struct {
        const char* profile;
        const char* otherStore;
    } cases[] = {
        {"indexfirst", "ME"}, {"noalpha", "ME"}, {"lengthonly", "ME"}, {"zerobased", "ME"},
        {"nolist", "ME"},     {"nome", "MT"},    {"nomt", "ME"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        GatewayRig rig(c.profile);
        rig.Passes(1);
        rig.sim.Control(std::string("DELIVER from=+4917011111 via=silent mem=") + c.otherStore + " text=scanned");
        rig.sim.Control("REPORT mr=9 via=silent mem=SM");
        rig.sim.Control("DELIVER from=+4917022222 via=store mem=SM text=indicated");
        rig.Passes(2);
        for (int i = 0; i < 3; ++i) rig.gateway->ScanStorage();
        EXPECT_EQ((std::vector<std::string>{"+4917022222|indicated", "+4917011111|scanned"}), Inbox(rig));
        EXPECT_TRUE(ModemEmpty(rig)) << rig.sim.Control("LIST");
        EXPECT_EQ("", RejectedText(rig));
    }
}

// A place whose header says length 0 is no message, also after a +CMTI and with the index
// echoed first: nothing is inserted, nothing deleted, and the next message still arrives.
TEST(GatewayStoreLayouts, AnIndicatedEmptyPlaceInsertsNothingAndDeletesNothing) {
    GatewayRig rig("indexfirst");
    rig.Passes(1);
    rig.sim.Control("PDU via=store mem=SM empty=1");
    rig.Passes(2);
    rig.sim.Control("DELIVER from=+4917033333 via=store mem=SM text=after the empty place");
    rig.Passes(2);
    EXPECT_EQ((std::vector<std::string>{"+4917033333|after the empty place"}), Inbox(rig));
    EXPECT_NE(std::string::npos, rig.sim.Control("LIST SM").find("\"index\":1,")) << "the empty place stays";
}

// Garbage, announced or found by the scan, goes to the reject store and leaves the modem.
TEST(GatewayStoreLayouts, ReservedTypeAndOverlongAddressAreRejectedAndLeaveTheModem) {
    GatewayRig rig("zerobased");
    rig.Passes(1);
    const std::string reserved = "070C919471103254760000622170900300400BC8329BFD06DDDF723619";
    const std::string longAddress = "046991" + std::string(106, '0') + "0000622170900300400BC8329BFD06DDDF723619";
    rig.sim.Control("PDU via=store mem=SM hex=" + reserved);
    rig.Passes(2);
    rig.sim.Control("PDU via=silent mem=ME hex=" + longAddress);
    for (int i = 0; i < 3; ++i) rig.gateway->ScanStorage();
    EXPECT_TRUE(Inbox(rig).empty());
    EXPECT_TRUE(ModemEmpty(rig)) << rig.sim.Control("LIST");
    const std::string rejected = RejectedText(rig);
    EXPECT_NE(std::string::npos, rejected.find(" SM 0 00" + reserved + "\n")) << rejected;
    EXPECT_NE(std::string::npos, rejected.find(" ME 0 00" + longAddress + "\n")) << rejected;
}

// The cost of one scan of a 30-place store holding 3 messages, with and without a listing.
TEST(GatewayStoreLayouts, AScanListsThePlacesInsteadOfReadingEveryOne) {
    for (const char* profile : {"generic", "nolist"}) {
        SCOPED_TRACE(profile);
        GatewayRig rig(profile);
        rig.Passes(1);
        for (int at : {4, 17, 30}) rig.sim.Control("DELIVER from=+491 via=silent mem=SM at=" + std::to_string(at) +
                                                   " text=place " + std::to_string(at));
        // The first pass scanned SM; the scans rotate through ME and MT back to it.
        rig.gateway->ScanStorage();
        rig.gateway->ScanStorage();
        rig.sim.Control("RECORD CLEAR");
        EXPECT_EQ(1, rig.gateway->ScanStorage());
        int commands = 0;
        const int reads = ReadCommands(rig, &commands);
        std::cout << "[ scan cost ] " << profile << ": " << commands << " commands, " << reads << " reads\n";
        EXPECT_EQ(std::string(profile) == "generic" ? 3 : 31, reads);  // places 0..30 without a listing
        EXPECT_EQ(3u, Inbox(rig).size());
        EXPECT_TRUE(ModemEmpty(rig));
    }
}
