// The engine end to end through its call interface: a finder host on two
// LANs, simulated devices on each.
#include "engine/search_manager.h"
#include "tests/support/finder_lab.h"
#include "tests/support/log_line.h"
#include "tests/support/receive_within.h"
#include "tests/support/report_collector.h"
#include "tests/support/temporary_log.h"

#include <searchdevice/SearchDeviceLib.h>

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <fcntl.h>

#include <chrono>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using namespace std::chrono_literals;

// While it lives only `spare` descriptor numbers are left free.
struct DescriptorsRunningOut {
    explicit DescriptorsRunningOut(int spare)
    {
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit tight = saved;
        for (tight.rlim_cur = 0; spare > 0; ++tight.rlim_cur) spare -= fcntl(tight.rlim_cur, F_GETFD) == -1;
        setrlimit(RLIMIT_NOFILE, &tight);
    }
    ~DescriptorsRunningOut() { setrlimit(RLIMIT_NOFILE, &saved); }
    rlimit saved;
};

class EngineInTheLab : public testing::Test {
protected:
    void TearDown() override
    {
        netlab::Host::Inside inside(lab.finder);
        UninitSearchDeviceLib();
        for (const IPANDSEARCHTHREAD& entry : g_searchThreads) EXPECT_TRUE(entry.pSearchThread->WaitUntilReceiveEnded(5s));
    }

    void Init(bool bMultiCommand)
    {
        netlab::Host::Inside inside(lab.finder);
        std::string directory = log.directory().slashed();
        InitSearchDeviceLib(ReportCollector::Callback, true, directory.data(), bMultiCommand);
    }

    void Pass(void* pdhcp = nullptr)
    {
        netlab::Host::Inside inside(lab.finder);
        EXPECT_EQ(SendMessage(pdhcp), 0);
    }

    std::vector<std::pair<std::string, int>> Workers() const
    {
        std::vector<std::pair<std::string, int>> workers;
        for (const IPANDSEARCHTHREAD& entry : g_searchThreads) workers.emplace_back(entry.strIP, entry.pSearchThread->Port());
        return workers;
    }

    // Whether `address`:`port` can be bound in the finder right now ("" is every address).
    bool CanBind(const std::string& address, int port)
    {
        netlab::Host::Inside inside(lab.finder);
        udp::socket socket(io, udp::v4());
        boost::system::error_code error;
        socket.bind(udp::endpoint(asio::ip::make_address_v4(address.empty() ? "0.0.0.0" : address), port), error);
        return !error;
    }

    udp::socket BoundIn(const netlab::Host& host, unsigned short port)
    {
        netlab::Host::Inside inside(host);
        return udp::socket(io, udp::endpoint(udp::v4(), port));
    }

    FinderLab lab{2};
    TemporaryLog log;
    ReportCollector reports;
    asio::io_context io;
};

using WorkerList = std::vector<std::pair<std::string, int>>;

TEST_F(EngineInTheLab, StartsOneWorkerPerAddressAfterTheBroadcastAndMulticastWorkersAndOnlyOnce)
{
    Init(true);
    Init(true);  // while running: changes nothing
    EXPECT_EQ(Workers(), (WorkerList{{"", 67}, {"", 1900}, {"192.0.2.1", 1530}, {"198.51.100.1", 1550}}));
    for (const auto& [address, port] : Workers()) EXPECT_FALSE(CanBind(address, port)) << port;
    EXPECT_TRUE(CanBind("198.51.100.1", 1530)) << "a per-address worker binds its own address only";
    auto messages = log.Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_INIT_VALUES, 67, "", 67)),
              1);
}

TEST_F(EngineInTheLab, NewAddressGetsTheNextPortAReturningOneNoSecondWorkerAndNoneComesPastPort65535)
{
    Init(true);
    lab.finder.AddAddress("192.0.2.9/24", "eth0");
    Pass();
    EXPECT_EQ(Workers().back(), (std::pair<std::string, int>{"192.0.2.9", 1570}));
    int added = log.IndexOf(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_INIT_VALUES, 1570, "192.0.2.9", 1570));
    EXPECT_GE(added, 0);
    EXPECT_LT(added, log.IndexOf(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_SEND_BROADCAST, 67))) << "new workers come first";

    lab.finder.RemoveAddress("192.0.2.9/24", "eth0");
    EXPECT_FALSE(CanBind("192.0.2.9", 0)) << "the address is gone";
    Pass();
    lab.finder.AddAddress("192.0.2.9/24", "eth0");
    Pass();
    EXPECT_EQ(Workers().size(), 5u);
    EXPECT_EQ(g_nextCommandPort, 1590);

    // With thousands of addresses the next port passed 65535 and wrapped below 1024.
    g_nextCommandPort = 65530;
    lab.finder.AddAddresses({"192.0.2.10/24", "192.0.2.11/24"});
    Pass();
    EXPECT_EQ(Workers().back(), (std::pair<std::string, int>{"192.0.2.10", 65530}));
    EXPECT_EQ(Workers().size(), 6u);
    EXPECT_TRUE(log.Contains("Per-address workers end at port 65535: 1 local IPs go without one  "));
}

// Per-address workers are never removed, so a long watch on a machine whose
// addresses come and go runs out of descriptors: a worker whose I/O service
// could not be made threw out of SendMessage and aborted the caller.
TEST_F(EngineInTheLab, WorkersThatCannotBeMadeForWantOfDescriptorsAreSkippedAndTheOthersSearchOn)
{
#ifdef NASSCOUT_UBSAN
    GTEST_SKIP() << "UndefinedBehaviorSanitizer checks a type through a pipe, and no descriptor is left for one";
#endif
    lab.StartDevices("nas1", {{"192.0.2.20", "lan1-nas"}});
    Init(true);
    lab.finder.AddAddresses({"192.0.2.9/24", "192.0.2.10/24"});
    {
        netlab::Host::Inside inside(lab.finder);
        DescriptorsRunningOut limit(1);  // the log file's: an I/O service needs two
        EXPECT_EQ(SendMessage(nullptr), 0);
    }
    EXPECT_EQ(Workers().size(), 4u);
    for (const std::string address : {"192.0.2.9", "192.0.2.10"}) {
        EXPECT_TRUE(log.Contains(LogLine(LOGTEXT_NO_WORKER, 1570, address.c_str(), "epoll: Too many open files")));
    }
    EXPECT_TRUE(reports.WaitFor("lan1-nas", DEVICE_TYPE_ANSWER, 1530));

    Pass();
    EXPECT_EQ(Workers().back(), (std::pair<std::string, int>{"192.0.2.10", 1590})) << "made once descriptors are back";
}

TEST_F(EngineInTheLab, WithoutPerAddressWorkersThereAreExactlyTwo)
{
    udp::socket squatter = BoundIn(lab.finder, 1900);
    Init(false);
    lab.finder.AddAddress("192.0.2.9/24", "eth0");
    Pass();
    EXPECT_EQ(Workers(), (WorkerList{{"", 67}, {"", 1901}})) << "the multicast worker may move on a taken port";
    EXPECT_EQ(log.IndexOf(LOGTEXT_LOCAL_ADDRESSES), -1);
}

TEST_F(EngineInTheLab, CallersOwnSearchBlockIsSentUnchanged)
{
    udp::socket bystander = BoundIn(lab.AddHost("bystander", {"192.0.2.30"}), 68);
    Init(true);
    unsigned char block[DHCPPACKET_SIZE];
    for (size_t index = 0; index < sizeof block; ++index) block[index] = static_cast<unsigned char>(index * 7 + 3);
    Pass(block);

    unsigned char received[300];
    udp::endpoint sender;
    ASSERT_EQ(ReceiveWithin(bystander, asio::buffer(received), sender), static_cast<long>(sizeof block));
    EXPECT_EQ(std::memcmp(received, block, sizeof block), 0);
}

// Each LAN's device comes through the per-address worker of the finder's address there.
TEST_F(EngineInTheLab, FindsTheDevicesOfBothLansAndStopsPromptlyWithEverySocketClosed)
{
    LabSimulator& lan1 = lab.StartDevices("nas1", {{"192.0.2.20", "lan1-nas"}});
    lab.StartDevices("nas2", {{"198.51.100.20", "lan2-nas"}});
    Init(true);
    Pass();
    ASSERT_TRUE(reports.WaitFor("lan1-nas", DEVICE_TYPE_ANSWER, 1530));
    ASSERT_TRUE(reports.WaitFor("lan2-nas", DEVICE_TYPE_ANSWER, 1550));
    WorkerList workers = Workers();
    {
        netlab::Host::Inside inside(lab.finder);
        auto started = std::chrono::steady_clock::now();
        UninitSearchDeviceLib();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    }
    for (const auto& [address, port] : workers) EXPECT_TRUE(CanBind(address, port)) << port;

    size_t reported = reports.Reports().size();
    lan1.Stop();  // its bye-bye finds nobody listening
    Pass();
    EXPECT_EQ(reports.Reports().size(), reported);

    int exitBanner = log.IndexOf("------Exit Log System-------");
    ASSERT_GE(exitBanner, 0);
    EXPECT_GT(exitBanner, log.IndexOf(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_EXIT, 1550, 1)));
    // The log stays armed after the stop, and shows that the pass sent nothing.
    EXPECT_GT(log.IndexOf(LOGTEXT_DEFAULT_PACKET, exitBanner), exitBanner);
    EXPECT_EQ(log.IndexOf(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_SEND_BROADCAST, 67), exitBanner), -1);
}

}  // namespace
