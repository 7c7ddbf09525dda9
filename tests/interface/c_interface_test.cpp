// A plain C client of libsearchdevice.so finds devices on two LANs.
#include "tests/support/finder_lab.h"

#include <gtest/gtest.h>

namespace {

// Which worker reports which device is the manager tests' business; here the
// client, knowing only the public header, must count both devices.
TEST(CInterface, PlainCProgramFindsDevicesOnTwoLans)
{
    FinderLab lab(2);
    lab.StartDevices("nas1", {{"192.0.2.20", "lan1-nas"}});
    lab.StartDevices("nas2", {{"198.51.100.20", "lan2-nas"}});
    ProgramRun client = lab.Run({C_INTERFACE_CLIENT_PATH, "2", "10"});
    EXPECT_EQ(client.status, 0) << client.out << client.err;
    EXPECT_NE(client.out.find("found lan2-nas 198.51.100.20 "), std::string::npos) << client.out;
}

// Outside a host of the lab (here the test's own namespace, with no address
// of the lab's ranges) the client refuses before it opens a socket.
TEST(CInterface, ClientRefusesToSearchOutsideALabHost)
{
    EXPECT_EQ(netlab::RunCommand({C_INTERFACE_CLIENT_PATH, "1", "1"}), 1);
}

}  // namespace
