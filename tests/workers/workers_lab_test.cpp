// The three search workers against simulated devices across a bridge: the
// finder host runs the workers, the nas host two simulated devices, and the
// listener host plays a bystander that sees what the finder sends.
#include "engine/find_device_dispatch.h"
#include "engine/search_device_broadcast_thread.h"
#include "engine/search_device_multicast_thread.h"
#include "engine/search_device_multicommand_thread.h"
#include "engine/wire/wire_protocol.h"
#include "tests/support/finder_lab.h"
#include "tests/support/receive_within.h"
#include "tests/support/report_collector.h"
#include "tests/support/temporary_log.h"

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
        netlab::Host::Inside inside(lab.finder);
        auto worker = std::make_unique<Worker>();
        worker->InitThreadValue(address, port, retry);
        started.push_back(std::move(worker));
        return static_cast<Worker&>(*started.back());
    }

    void StartAllThree()
    {
        Start<CSearchDeviceBroadcastThread>(nullptr, wire::kBroadcastSearchPort);
        Start<CSearchDeviceMulticastThread>(nullptr, wire::kMulticastPort);
        Start<CSearchDeviceMultiCommandThead>("192.0.2.1", wire::kFirstCommandPort, true);
    }

    LabSimulator& StartTwoDevices() { return lab.StartDevices("nas", {{"192.0.2.20", "dev-20"}, {"192.0.2.21", "dev-21"}}); }

    udp::socket Listen(int port, bool joinGroup)
    {
        netlab::Host::Inside inside(listener);
        udp::socket socket(io, udp::endpoint(udp::v4(), port));
        if (joinGroup) socket.set_option(asio::ip::multicast::join_group(asio::ip::make_address_v4(wire::kMulticastGroup)));
        return socket;
    }

    FinderLab lab;
    netlab::Host& listener = lab.AddHost("listener", {"192.0.2.30"});
    TemporaryLog log;
    ReportCollector reports;
    asio::io_context io;
    std::vector<std::unique_ptr<CSearchDeviceThread>> started;
};

// Written out byte for byte: a change to the wire constants must show here.
const std::string kMSearch =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: 239.143.255.250:1900\r\n"
    "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 3\r\n"
    "\r\n";

TEST_F(WorkersInTheLab, EachWorkerSendsItsRequestFromItsOwnPort)
{
    const struct {
        int listenPort;
        std::string request;
        int senderPort;
    } cases[] = {{68, std::string("\x0B\x01\x00\x00\xFF\xFF\xFF\xFF", 8) + std::string(140, '\0'), 67},
                 {1900, kMSearch, 1900},
                 {1900, kMSearch, 1530}};
    StartAllThree();  // in the order of the cases
    for (size_t index = 0; index < std::size(cases); ++index) {
        udp::socket bystander = Listen(cases[index].listenPort, cases[index].listenPort == 1900);
        started[index]->SendSearchCommand(nullptr);
        char request[300];
        udp::endpoint sender;
        long length = ReceiveWithin(bystander, asio::buffer(request), sender);
        EXPECT_EQ(std::string(request, std::max(length, 0L)), cases[index].request) << cases[index].senderPort;
        EXPECT_EQ(sender, udp::endpoint(asio::ip::make_address_v4("192.0.2.1"), cases[index].senderPort));
    }
}

// Announcements come to the multicast worker alone: the per-address worker
// gets only the answers to its own request.
TEST_F(WorkersInTheLab, EachWorkerReportsEveryDeviceWithItsFieldsAndOnlyTheMulticastOneAnnouncements)
{
    StartAllThree();
    LabSimulator& simulator = StartTwoDevices();
    for (const char* id : {"dev-20", "dev-21"}) ASSERT_TRUE(reports.WaitFor(id, DEVICE_TYPE_ALIVE, 1900)) << id;
    for (auto& worker : started) worker->SendSearchCommand(nullptr);
    for (const char* id : {"dev-20", "dev-21"}) {
        for (int port : {67, 1900, 1530}) EXPECT_TRUE(reports.WaitFor(id, DEVICE_TYPE_ANSWER, port)) << id << " " << port;
    }
    EXPECT_EQ(simulator.Stop(), 0);
    for (const char* id : {"dev-20", "dev-21"}) EXPECT_TRUE(reports.WaitFor(id, DEVICE_TYPE_BYEBYE, 1900)) << id;

    for (const Report& report : reports.Reports()) {
        const deviceinfo& device = report.device;
        const std::string id = device.id;
        // A broadcast reply carries no firmware; an SSDP message no lifetime we set.
        EXPECT_EQ(std::string(device.ip) + " " + device.factory + " " + device.host + " " + device.product + " " +
                      (report.port == 67 ? std::to_string(device.lifetime) : std::string(device.version) + " " + device.detail),
                  "192.0.2." + id.substr(4) + " ZORVA host-" + id + " NS200 " + (report.port == 67 ? "60" : "2.1.0 A1"));
        EXPECT_TRUE(report.port != 1530 || report.device.type == DEVICE_TYPE_ANSWER) << "an announcement reached it";
    }
}

TEST_F(WorkersInTheLab, GarbageBurstDoesNotStopTheWorkers)
{
    StartAllThree();
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
            for (size_t length = random() % 1500; datagram.size() < length;) {
                datagram += random() % 2 ? pieces[random() % std::size(pieces)] : std::string(1, static_cast<char>(random()));
            }
            if (round % 10 == 0) datagram.resize(148, '\0'), datagram[0] = 12;
            attacker.send_to(asio::buffer(datagram),
                             udp::endpoint(asio::ip::make_address_v4("192.0.2.1"), ports[round % 3]));
        }
    }

    StartTwoDevices();
    for (auto& worker : started) {
        worker->ClearDevice();
        worker->SendSearchCommand(nullptr);
    }
    for (int port : {67, 1900, 1530}) EXPECT_TRUE(reports.WaitFor("dev-20", DEVICE_TYPE_ANSWER, port)) << port;
}

}  // namespace
