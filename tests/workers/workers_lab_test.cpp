// The three search workers against simulated devices across a bridge.
//
// The finder host runs the workers; the nas host runs nasscout-sim; the
// listener host plays a bystander that sees what the finder sends.
#include "find_device_dispatch.h"
#include "lab_simulator.h"
#include "netlab.h"
#include "receive_within.h"
#include "report_collector.h"
#include "search_device_broadcast_thread.h"
#include "search_device_multicast_thread.h"
#include "search_device_multicommand_thread.h"
#include "temporary_log.h"
#include "wire_protocol.h"

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <random>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using namespace std::chrono_literals;

class WorkersInTheLab : public testing::Test {
protected:
    WorkersInTheLab()
        : lan(lab.AddLan()),
          finder(lab.AddHost("finder", {{lan, "192.0.2.1/24"}})),
          nas(lab.AddHost("nas", {{lan, "192.0.2.20/24"}})),
          listener(lab.AddHost("listener", {{lan, "192.0.2.30/24"}}))
    {
        nas.AddAddress("192.0.2.21/24");
    }

    void SetUp() override { SetFindDeviceCallback(ReportCollector::Callback); }

    void TearDown() override
    {
        for (auto& worker : started) {
            worker->ExitWorkThread();
            EXPECT_TRUE(worker->WaitUntilReceiveEnded(5s));
        }
        SetFindDeviceCallback(nullptr);
    }

    // Creates a worker inside the finder host; it is stopped when the test ends.
    template <typename Worker>
    Worker& Start(const char* address, int port, bool retry = false)
    {
        netlab::Host::Inside inside(finder);
        auto worker = std::make_unique<Worker>();
        worker->InitThreadValue(address, port, retry);
        started.push_back(std::move(worker));
        return static_cast<Worker&>(*started.back());
    }

    // Two devices of the nas host, one per address.
    std::vector<std::string> TwoDevices() const
    {
        return {"--device", LabSimulator::Device("192.0.2.20", "dev-20"), "--device",
                LabSimulator::Device("192.0.2.21", "dev-21")};
    }

    // A socket of the listener host bound to `port`, optionally in the group.
    udp::socket Listen(int port, bool joinGroup)
    {
        netlab::Host::Inside inside(listener);
        udp::socket socket(io, udp::endpoint(udp::v4(), port));
        if (joinGroup) socket.set_option(asio::ip::multicast::join_group(asio::ip::make_address_v4(wire::kMulticastGroup)));
        return socket;
    }

    netlab::Lab lab;
    netlab::Lan lan;
    netlab::Host& finder;
    netlab::Host& nas;
    netlab::Host& listener;
    TemporaryLog log;
    ReportCollector reports;
    asio::io_context io;
    std::vector<std::unique_ptr<CSearchDeviceThread>> started;
};

TEST_F(WorkersInTheLab, BroadcastWorkerSendsTheDefaultRequestFromPort67AndReportsEverySimulatedDevice)
{
    udp::socket bystander = Listen(wire::kBroadcastReplyPort, false);
    LabSimulator simulator(nas, TwoDevices());
    ASSERT_TRUE(simulator.ready()) << simulator.Output();
    auto& worker = Start<CSearchDeviceBroadcastThread>(nullptr, wire::kBroadcastSearchPort);
    worker.SendSearchCommand(nullptr);

    unsigned char request[200];
    udp::endpoint sender;
    ASSERT_EQ(ReceiveWithin(bystander, asio::buffer(request), sender), 148);
    EXPECT_EQ(sender, udp::endpoint(asio::ip::make_address_v4("192.0.2.1"), 67));
    const unsigned char head[8] = {0x0B, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(request, head, sizeof head), 0);
    EXPECT_EQ(std::count(request + 8, request + 148, 0), 140);

    ASSERT_TRUE(reports.WaitFor("dev-20", DEVICE_TYPE_ANSWER, 67));
    ASSERT_TRUE(reports.WaitFor("dev-21", DEVICE_TYPE_ANSWER, 67));
    for (const Report& report : reports.Reports()) {
        std::string id = report.device.id;
        EXPECT_EQ(report.device.ip, id == "dev-20" ? std::string("192.0.2.20") : std::string("192.0.2.21"));
        EXPECT_STREQ(report.device.factory, "ZORVA");
        EXPECT_STREQ(report.device.host, ("host-" + id).c_str());
        EXPECT_STREQ(report.device.product, "NS200");
        EXPECT_EQ(report.device.lifetime, 60);
    }
}

TEST_F(WorkersInTheLab, MulticastWorkerSendsTheExactRequestToTheGroupAndReportsAnswersAndBothAnnouncements)
{
    auto& worker = Start<CSearchDeviceMulticastThread>(nullptr, wire::kMulticastPort);
    LabSimulator simulator(nas, TwoDevices());
    ASSERT_TRUE(simulator.ready()) << simulator.Output();
    EXPECT_TRUE(reports.WaitFor("dev-20", DEVICE_TYPE_ALIVE, 1900));
    EXPECT_TRUE(reports.WaitFor("dev-21", DEVICE_TYPE_ALIVE, 1900));

    // Joined after the announcements: the first datagram it gets is the request.
    udp::socket bystander = Listen(wire::kMulticastPort, true);
    worker.ClearDevice();
    worker.SendSearchCommand(nullptr);
    char request[300];
    udp::endpoint sender;
    long length = ReceiveWithin(bystander, asio::buffer(request), sender);
    ASSERT_GT(length, 0);
    // Written out byte for byte: a change to the wire constants must show here.
    EXPECT_EQ(std::string(request, length),
              "M-SEARCH * HTTP/1.1\r\n"
              "HOST: 239.143.255.250:1900\r\n"
              "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
              "MAN: \"ssdp:discover\"\r\n"
              "MX: 3\r\n"
              "\r\n");
    EXPECT_EQ(sender.port(), 1900);
    EXPECT_TRUE(reports.WaitFor("dev-20", DEVICE_TYPE_ANSWER, 1900));
    EXPECT_TRUE(reports.WaitFor("dev-21", DEVICE_TYPE_ANSWER, 1900));

    EXPECT_EQ(simulator.Stop(), 0);
    EXPECT_TRUE(reports.WaitFor("dev-20", DEVICE_TYPE_BYEBYE, 1900));
    EXPECT_TRUE(reports.WaitFor("dev-21", DEVICE_TYPE_BYEBYE, 1900));

    for (const Report& report : reports.Reports()) {
        EXPECT_STREQ(report.device.version, "2.1.0");
        EXPECT_STREQ(report.device.detail, "A1");
    }
}

TEST_F(WorkersInTheLab, PerAddressWorkerGetsOnlyTheAnswersToItsOwnRequest)
{
    Start<CSearchDeviceMulticastThread>(nullptr, wire::kMulticastPort);
    auto& worker = Start<CSearchDeviceMultiCommandThead>("192.0.2.1", wire::kFirstCommandPort, true);

    LabSimulator simulator(nas, TwoDevices());
    ASSERT_TRUE(simulator.ready()) << simulator.Output();
    ASSERT_TRUE(reports.WaitFor("dev-21", DEVICE_TYPE_ALIVE, 1900)) << "the announcements were sent";

    worker.SendSearchCommand(nullptr);
    EXPECT_TRUE(reports.WaitFor("dev-20", DEVICE_TYPE_ANSWER, 1530));
    EXPECT_TRUE(reports.WaitFor("dev-21", DEVICE_TYPE_ANSWER, 1530));
    simulator.Stop();
    ASSERT_TRUE(reports.WaitFor("dev-21", DEVICE_TYPE_BYEBYE, 1900));

    for (const Report& report : reports.Reports()) {
        if (report.port == 1530) {
            EXPECT_EQ(report.device.type, DEVICE_TYPE_ANSWER) << "an announcement reached it";
        }
    }
}

TEST_F(WorkersInTheLab, GarbageBurstDoesNotStopTheWorkers)
{
    Start<CSearchDeviceBroadcastThread>(nullptr, wire::kBroadcastSearchPort);
    Start<CSearchDeviceMulticastThread>(nullptr, wire::kMulticastPort);
    Start<CSearchDeviceMultiCommandThead>("192.0.2.1", wire::kFirstCommandPort, true);

    {
        // Random bytes, and random pieces of real messages, at every worker port.
        netlab::Host::Inside inside(listener);
        udp::socket attacker(io, udp::v4());
        std::mt19937 random(20261207);
        const std::string pieces[] = {"HTTP", "NOTIFY", "VELD", "VELD/", "LOCATION: http://", "SERVER:", "USN: uuid:",
                                      "::", "NTS:", "ssdp:alive", ",", "/", "\r\n", std::string(1, '\0'), "%s%n"};
        const int ports[] = {67, 1900, 1530};
        for (int round = 0; round < 3000; ++round) {
            std::string datagram;
            size_t length = random() % 1500;
            while (datagram.size() < length) {
                if (random() % 2) datagram += pieces[random() % std::size(pieces)];
                else datagram += static_cast<char>(random());
            }
            if (round % 10 == 0) datagram.resize(148, '\0'), datagram[0] = 12;
            attacker.send_to(asio::buffer(datagram),
                             udp::endpoint(asio::ip::make_address_v4("192.0.2.1"), ports[round % 3]));
        }
    }

    LabSimulator simulator(nas, TwoDevices());
    ASSERT_TRUE(simulator.ready()) << simulator.Output();
    for (auto& worker : started) {
        worker->ClearDevice();
        worker->SendSearchCommand(nullptr);
    }
    EXPECT_TRUE(reports.WaitFor("dev-20", DEVICE_TYPE_ANSWER, 67));
    EXPECT_TRUE(reports.WaitFor("dev-20", DEVICE_TYPE_ANSWER, 1900));
    EXPECT_TRUE(reports.WaitFor("dev-20", DEVICE_TYPE_ANSWER, 1530));
}

}  // namespace
