// Creation, port retry and stop of the multicast and per-address workers,
// inside the test's private network namespace.
#include "search_device_multicast_thread.h"
#include "search_device_multicommand_thread.h"
#include "netlab.h"
#include "temporary_log.h"

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using namespace std::chrono_literals;

class WorkerCreation : public testing::Test {
protected:
    // Group membership needs a route for the group, here on loopback.
    static void SetUpTestSuite() { netlab::RunCommand({"ip", "route", "replace", "224.0.0.0/4", "dev", "lo"}); }

    // Binds the wildcard address on ports first..last so the workers find them taken.
    void Occupy(int first, int last)
    {
        for (int port = first; port <= last; ++port) squatters.push_back(std::make_unique<udp::socket>(io, udp::endpoint(udp::v4(), port)));
    }

    template <typename Worker>
    void Stop(Worker& worker)
    {
        worker.ExitWorkThread();
        ASSERT_TRUE(worker.WaitUntilReceiveEnded(5s));
    }

    TemporaryLog log;
    asio::io_context io;
    std::vector<std::unique_ptr<udp::socket>> squatters;
};

TEST_F(WorkerCreation, MulticastWorkerMovesToTheFirstFreePortWithRetryOnJoinsTheGroupThereAndLeavesItBeforeItStops)
{
    Occupy(1900, 1901);
    CSearchDeviceMulticastThread worker;
    worker.InitThreadValue(nullptr, 1900, true);
    EXPECT_EQ(worker.Port(), 1902);
    EXPECT_TRUE(log.Contains("SendThread 1902 : Test Create Search Device Work Thread, testCount = 2, port = 1902  "));
    EXPECT_TRUE(log.Contains("SendThread 1902 : Add To Multicast Group Info "));
    EXPECT_TRUE(log.Contains("SendThread 1902 : Receive buffer of 8388608 bytes for port 1902 (asked for 4194304, forced)  "))
        << "root may ask past net.core.rmem_max";
    EXPECT_FALSE(worker.WaitUntilReceiveEnded(0ms)) << "it receives on the port it found";
    Stop(worker);
    int leave = log.IndexOf("SendThread 1902 : Leave To Multicast Group Info ");
    ASSERT_GE(leave, 0);
    EXPECT_GT(log.IndexOf("SendThread 1902 : Exit Search Device Tread , bExitSock : 1  "), leave) << "left before it stopped";
}

TEST_F(WorkerCreation, MulticastWorkerGivesUpAfterTwentyRetries)
{
    Occupy(1900, 1920);
    CSearchDeviceMulticastThread worker;
    worker.InitThreadValue(nullptr, 1900, true);
    EXPECT_EQ(worker.Port(), 1920);
    EXPECT_TRUE(worker.WaitUntilReceiveEnded(0ms)) << "no receive thread after the last retry failed";

    auto messages = log.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2],
              "SendThread 1920 : Create Search Device Work Thread Error : bind: Address already in use   ");
    EXPECT_EQ(messages.back(), "SendThread 1920 : Handle Create Search Device Work Thread Error  ");
    EXPECT_EQ(log.IndexOf("SendThread 1921 : Test Create Search Device Work Thread, testCount = 21, port = 1921  "), -1);

    // An idle worker still takes part in every pass, and says why its send fails.
    worker.ClearDevice();
    EXPECT_EQ(worker.SendSearchCommand(nullptr), 0);
    EXPECT_TRUE(log.Contains("SendThread 1920 : Send Search Device Error : send_to: Bad file descriptor   "));
    Stop(worker);
}

TEST_F(WorkerCreation, MulticastWorkerWithoutRetryStaysIdleOnATakenPort)
{
    Occupy(1900, 1900);
    CSearchDeviceMulticastThread worker;
    worker.InitThreadValue(nullptr, 1900, false);
    EXPECT_EQ(worker.Port(), 1900);
    EXPECT_EQ(log.IndexOf("SendThread 1900 : Handle Create Search Device Work Thread Error  "), -1);
    Stop(worker);
}

TEST_F(WorkerCreation, PerAddressWorkerRetriesOnItsOwnAddressAndNeverTouchesAGroup)
{
    Occupy(1530, 1530);
    CSearchDeviceMultiCommandThead worker;
    worker.InitThreadValue("127.0.0.1", 1530, true);
    EXPECT_EQ(worker.Port(), 1531);
    EXPECT_TRUE(log.Contains("SendThread 1531 : Test Create Search Device Work Thread, testCount = 1, port = 1531  "));
    Stop(worker);
    EXPECT_TRUE(log.Contains("SendThread 1531 : Exit Search Device Tread , bExitSock : 1  "));
    for (const std::string& message : log.Messages()) EXPECT_EQ(message.find("Group"), std::string::npos) << message;
}

// Retries went on past 65535 and bound whatever port the number wrapped to.
TEST_F(WorkerCreation, PerAddressWorkerWithAnInvalidAddressTriesEveryPortUpTo65535ThenIdles)
{
    CSearchDeviceMultiCommandThead worker;
    worker.InitThreadValue("not-an-address", 65530, true);
    EXPECT_EQ(worker.Port(), 65535);
    EXPECT_TRUE(worker.WaitUntilReceiveEnded(0ms));
    EXPECT_EQ(log.Messages().back(), "SendThread 65535 : Handle Create Search Device Work Thread Error  ");
    Stop(worker);
}

}  // namespace
