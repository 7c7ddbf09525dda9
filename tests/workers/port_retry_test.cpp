// Creation, port retry and stop of the multicast and per-address workers,
// inside the test's private network namespace.
#include "engine/search_device_multicast_thread.h"
#include "engine/search_device_multicommand_thread.h"
#include "engine/wire/wire_protocol.h"
#include "lab/netlab.h"
#include "tests/support/log_line.h"
#include "tests/support/temporary_log.h"

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
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
    EXPECT_TRUE(log.Contains(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_RETRY, 1902, 2, 1902)));
    EXPECT_TRUE(log.Contains(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_JOIN_GROUP, 1902)));
    // What the socket gets is the kernel's to say; what is asked, and how, is ours.
    const auto bufferLine = [](const char* how) {
        return LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_RECEIVE_BUFFER, 1902, 0, 1902, wire::kReceiveBufferBytes, how);
    };
    const auto messages = log.Messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::string& message) {
        const std::string anyGranted = std::regex_replace(message, std::regex("of [0-9]+ bytes"), "of 0 bytes");
        return anyGranted == bufferLine(LOGTEXT_RECEIVE_BUFFER_FORCED) || anyGranted == bufferLine(LOGTEXT_RECEIVE_BUFFER_CAPPED);
    }));
    EXPECT_FALSE(worker.WaitUntilReceiveEnded(0ms)) << "it receives on the port it found";
    Stop(worker);
    int leave = log.IndexOf(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_LEAVE_GROUP, 1902));
    ASSERT_GE(leave, 0);
    EXPECT_GT(log.IndexOf(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_EXIT, 1902, 1)), leave) << "left before it stopped";
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
              LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_CREATE_ERROR, 1920, "bind: Address already in use"));
    EXPECT_EQ(messages.back(), LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_RETRY_ERROR, 1920));
    EXPECT_EQ(log.IndexOf(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_RETRY, 1921, 21, 1921)), -1);

    // An idle worker still takes part in every pass, and says why its send fails.
    worker.ClearDevice();
    EXPECT_EQ(worker.SendSearchCommand(nullptr), 0);
    EXPECT_TRUE(log.Contains(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_SEND_SEARCH_ERROR, 1920, "send_to: Bad file descriptor")));
    Stop(worker);
}

TEST_F(WorkerCreation, MulticastWorkerWithoutRetryStaysIdleOnATakenPort)
{
    Occupy(1900, 1900);
    CSearchDeviceMulticastThread worker;
    worker.InitThreadValue(nullptr, 1900, false);
    EXPECT_EQ(worker.Port(), 1900);
    EXPECT_EQ(log.IndexOf(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_RETRY_ERROR, 1900)), -1);
    Stop(worker);
}

TEST_F(WorkerCreation, PerAddressWorkerRetriesOnItsOwnAddressAndNeverTouchesAGroup)
{
    Occupy(1530, 1530);
    CSearchDeviceMultiCommandThead worker;
    worker.InitThreadValue("127.0.0.1", 1530, true);
    EXPECT_EQ(worker.Port(), 1531);
    EXPECT_TRUE(log.Contains(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_RETRY, 1531, 1, 1531)));
    Stop(worker);
    EXPECT_TRUE(log.Contains(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_EXIT, 1531, 1)));
    for (const std::string& message : log.Messages()) EXPECT_EQ(message.find("Group"), std::string::npos) << message;
}

// Retries went on past 65535 and bound whatever port the number wrapped to.
TEST_F(WorkerCreation, PerAddressWorkerWithAnInvalidAddressTriesEveryPortUpTo65535ThenIdles)
{
    CSearchDeviceMultiCommandThead worker;
    worker.InitThreadValue("not-an-address", 65530, true);
    EXPECT_EQ(worker.Port(), 65535);
    EXPECT_TRUE(worker.WaitUntilReceiveEnded(0ms));
    EXPECT_EQ(log.Messages().back(), LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_RETRY_ERROR, 65535));
    Stop(worker);
}

}  // namespace
