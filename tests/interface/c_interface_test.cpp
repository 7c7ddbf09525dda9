// A plain C client of libsearchdevice.so finds devices on two LANs.
#include "lab_simulator.h"
#include "netlab.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

TEST(CInterface, PlainCProgramFindsDevicesOnTwoLans)
{
    netlab::Lab lab;
    netlab::Lan lan1 = lab.AddLan();
    netlab::Lan lan2 = lab.AddLan();
    netlab::Host& finder = lab.AddHost("finder", {{lan1, "192.0.2.1/24"}, {lan2, "198.51.100.1/24"}});
    netlab::Host& nas1 = lab.AddHost("nas1", {{lan1, "192.0.2.20/24"}});
    netlab::Host& nas2 = lab.AddHost("nas2", {{lan2, "198.51.100.20/24"}});
    LabSimulator first(nas1, {"--device", LabSimulator::Device("192.0.2.20", "lan1-nas")});
    LabSimulator second(nas2, {"--device", LabSimulator::Device("198.51.100.20", "lan2-nas")});
    ASSERT_TRUE(first.ready() && second.ready());

    TemporaryDirectory directory;
    std::string output = directory.path() + "/client.out";
    pid_t client = finder.Spawn({C_INTERFACE_CLIENT_PATH, "2", "10"}, output);
    int status = finder.Wait(client, std::chrono::seconds(20));
    std::string printed = ReadWholeFile(output);
    // The first answer may come through the broadcast or the multicast worker
    // as well as through the per-address worker of the device's LAN.
    EXPECT_TRUE(std::regex_search(printed, std::regex("found lan1-nas 192\\.0\\.2\\.20 (67|1900|1530)\n"))) << printed;
    EXPECT_TRUE(std::regex_search(printed, std::regex("found lan2-nas 198\\.51\\.100\\.20 (67|1900|1550)\n"))) << printed;
    EXPECT_EQ(status, 0) << printed;
}

TEST(CInterface, ClientRefusesToSearchFromItsStartersNetwork)
{
    EXPECT_EQ(netlab::RunCommand({C_INTERFACE_CLIENT_PATH, "1", "1"}), 3);
}

}  // namespace
