#include "link/ComPort.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

TEST(ComPortDevice, EntryInTheFolderWinsOverTheSystemPort) {
    TempDir dir;
    std::ofstream(dir.file("COM12")).put('x');
    EXPECT_EQ(dir.file("COM12"), CComPort::DeviceName(12, dir.path()));
    EXPECT_EQ("/dev/ttyS8", CComPort::DeviceName(9, dir.path()));
    EXPECT_EQ("/dev/ttyS0", CComPort::DeviceName(1, dir.path()));
}

TEST(ComPortDevice, DanglingLinkStillNamesTheDevice) {
    TempDir dir;
    ASSERT_EQ(0, ::symlink("/nonexistent/tty", dir.file("COM3").c_str()));
    EXPECT_EQ(dir.file("COM3"), CComPort::DeviceName(3, dir.path()));
    CComPort port(SystemClock(), dir.path());
    port.Configure(3, 9600);
    EXPECT_EQ(-1, port.Open());  // the device behind it is missing
    EXPECT_EQ(0, port.IsOpen());
}

TEST(ComPortClosed, TransfersOnAClosedPortDoNothing) {
    CComPort port;
    EXPECT_EQ("", port.Read());
    EXPECT_EQ(0, port.Write("AT\r"));
    EXPECT_EQ("", port.ReadUntil("OK", "", "", 100));
    EXPECT_EQ("", port.Exchange("AT\r", "", 100));
    EXPECT_EQ(1, port.Close());
    EXPECT_EQ(1, port.SetLines(3));
}

}  // namespace
