// The worker base on a real socket, inside the test's private network namespace.
#include "engine/find_device_dispatch.h"
#include "engine/handed_socket.h"
#include "engine/search_device_thread.h"
#include "tests/support/log_line.h"
#include "tests/support/temporary_log.h"

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using namespace std::chrono_literals;

constexpr int kPort = 1530;

// Keeps every datagram as "bytes|whether a zero follows|sender" and reports
// the first 31 bytes as a device id.
class RecordingWorker : public CSearchDeviceThread {
public:
    void HandleReceiveInfo(const char* pData, int nLen, std::string& strSender) override
    {
        deviceinfo device;
        std::strncpy(device.id, pData, sizeof device.id - 1);
        device.type = DEVICE_TYPE_ANSWER;
        if (RememberIfNewDevice(device)) HandleFindDevice(&device, sizeof device, nPort);
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(std::string(pData, nLen) + (pData[nLen] == '\0' ? "|0|" : "|?|") + strSender);
        arrived_.notify_all();
    }

    bool WaitForDatagrams(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, 5s, [&] { return received_.size() >= count; });
    }

    std::vector<std::string> Received()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> received_;
};

std::atomic<int> g_reportCount{0};
void* CountReport(void*, int) { return reinterpret_cast<void*>(static_cast<intptr_t>(++g_reportCount)); }

class SearchWorkerBase : public testing::Test {
protected:
    void SetUp() override
    {
        g_reportCount = 0;
        SetFindDeviceCallback(CountReport);
    }
    void TearDown() override
    {
        worker.ExitWorkThread();
        ASSERT_TRUE(worker.WaitUntilReceiveEnded(5s));
        SetFindDeviceCallback(nullptr);
    }

    void Send(const std::string& bytes, int port = kPort)
    {
        udp::socket client(io, udp::v4());
        client.send_to(asio::buffer(bytes), udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
    }

    TemporaryLog log;
    asio::io_context io;
    RecordingWorker worker;
};

TEST_F(SearchWorkerBase, DatagramsArriveWholeUpTo1024BytesCutThereWithAZeroAfterThemAndEmptyOnesNever)
{
    worker.InitThreadValue(nullptr, kPort, false);
    Send(std::string(1024, 'x'));
    Send("");
    Send(std::string(1024, 'y') + std::string(476, 'z'));
    ASSERT_TRUE(worker.WaitForDatagrams(2));
    EXPECT_EQ(worker.Received(), (std::vector<std::string>{std::string(1024, 'x') + "|0|127.0.0.1",
                                                           std::string(1024, 'y') + "|0|127.0.0.1"}))
        << "the empty datagram never reaches the handler";
    EXPECT_TRUE(log.Contains(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_RECEIVED_FROM, 1530, "127.0.0.1", 1024)));
    auto messages = log.Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_RECEIVED, 1530)), 3)
        << "the empty datagram is received and logged, then skipped";
}

TEST_F(SearchWorkerBase, SameDeviceIsReportedOnceUntilCleared)
{
    worker.InitThreadValue(nullptr, kPort, false);
    Send("device-A");
    Send("device-A");
    ASSERT_TRUE(worker.WaitForDatagrams(2));
    EXPECT_EQ(g_reportCount, 1);

    worker.ClearDevice();
    Send("device-A");
    ASSERT_TRUE(worker.WaitForDatagrams(3));
    EXPECT_EQ(g_reportCount, 2);
}

// The socket-activation convention: descriptors from 3 for the process that
// LISTEN_PID names. A child inherits the variables but not the socket, and
// once the engine closed the socket its number may be anybody's.
TEST(HandedSocket, IsTakenOnceAndOnlyByTheProcessItWasHandedTo)
{
    asio::io_context io;
    udp::socket handed(io, udp::endpoint(udp::v4(), 67));
    const int fd = handed.native_handle();
    ASSERT_GE(fd, 3);
    setenv("LISTEN_FDS", std::to_string(fd - 2).c_str(), 1);  // 3 to fd; the others are no UDP sockets on 67
    setenv("LISTEN_PID", std::to_string(getpid() + 1).c_str(), 1);
    EXPECT_EQ(TakeHandedSocket(67), -1) << "handed to another process";
    setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    EXPECT_EQ(TakeHandedSocket(1900), -1) << "no socket of that port";
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(TakeHandedSocket(67), fd);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "no program the finder starts inherits it";
    EXPECT_EQ(TakeHandedSocket(67), -1) << "taken once";
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_PID");
}

}  // namespace
