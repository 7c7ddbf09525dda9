// nasscout-sim on a network of namespaces: the finder host sends the real
// searches and checks who answers and who does not. That the engine's workers
// understand the answers, tests/workers shows.
#include "engine/wire/wire_protocol.h"
#include "tests/support/finder_lab.h"
#include "tests/support/receive_within.h"

#include <searchdevice/dhcppacket.h>

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using namespace std::chrono_literals;

// The senders of up to `count` datagrams, each received within `timeout` of the last.
std::set<std::string> ReceiveFromEach(udp::socket& socket, std::size_t count, std::chrono::milliseconds timeout = 5s)
{
    std::set<std::string> senders;
    char buffer[2048];
    udp::endpoint sender;
    for (std::size_t index = 0; index < count && ReceiveWithin(socket, asio::buffer(buffer), sender, timeout) >= 0; ++index) {
        senders.insert(sender.address().to_string());
    }
    return senders;
}

// One device given by option, one read from a file, in a NAS host beside the
// finder. Short packets, replies and announcements are no search and get no answer.
TEST(SimOnTheNetwork, AnswersEachSearchFromEveryDeviceAddressAndNothingElse)
{
    FinderLab lab;
    asio::io_context io;
    auto finderSocket = [&](const udp::endpoint& local) {
        netlab::Host::Inside inside(lab.finder);
        udp::socket socket(io, udp::v4());
        socket.set_option(asio::socket_base::broadcast(true));
        socket.bind(local);
        return socket;
    };
    const std::string file = lab.files.Write("vault.json", R"({"devices": [{"ip": "192.0.2.11", "id": "b-2",
        "host": "vault", "vendor": "quenda", "product": "QX4", "detail": "rack/2U", "version": "4.0.1-beta"}]})");
    lab.StartSimulator(lab.AddHost("nas", {"192.0.2.10", "192.0.2.11"}),
                       {"--max-delay", "100", "--device", LabSimulator::Device("192.0.2.10", "4f2a-77"), "--devices", file});
    udp::socket broadcastSearcher = finderSocket(udp::endpoint(udp::v4(), wire::kBroadcastSearchPort));
    // Bound as a per-address searcher binds, to its address and own port.
    udp::socket groupSearcher = finderSocket(udp::endpoint(asio::ip::make_address_v4("192.0.2.1"), 1530));
    udp::socket stranger = finderSocket(udp::endpoint(udp::v4(), 0));

    DHCPPACKET request;
    std::memset(&request, 0, sizeof request);
    request.op = DHCPPACKET_OP_SEARCH;
    DHCPPACKET reply = request;
    reply.op = DHCPPACKET_OP_REPLY;
    const udp::endpoint broadcast(asio::ip::address_v4::broadcast(), wire::kBroadcastReplyPort);
    const udp::endpoint group(asio::ip::make_address_v4(wire::kMulticastGroup), wire::kMulticastPort);
    const std::string notify = "NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n\r\n";
    stranger.send_to(asio::buffer(&request, DHCPPACKET_SIZE - 1), broadcast);
    stranger.send_to(asio::buffer(&reply, DHCPPACKET_SIZE), broadcast);
    stranger.send_to(asio::buffer(notify), group);
    broadcastSearcher.send_to(asio::buffer(&request, DHCPPACKET_SIZE), broadcast);
    groupSearcher.send_to(asio::buffer(wire::MSearchRequest, wire::kMSearchRequestSize), group);

    const std::set<std::string> both{"192.0.2.10", "192.0.2.11"};
    EXPECT_EQ(ReceiveFromEach(broadcastSearcher, 2), both);
    EXPECT_EQ(ReceiveFromEach(groupSearcher, 2), both);
    // Longer than --max-delay: a wrong answer would be here by now.
    EXPECT_TRUE(ReceiveFromEach(stranger, 1, 200ms).empty());
}

}  // namespace
