// nasscout-sim on a network of namespaces: the finder host sends the real
// searches and checks, byte for byte, what the simulated devices send back.
#include "finder_lab.h"
#include "receive_within.h"
#include "sim_test_support.h"
#include "wire_protocol.h"

#include <searchdevice/dhcppacket.h>

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using namespace std::chrono_literals;
using Senders = std::map<std::string, std::string>;  // sender address -> datagram

constexpr char kNasAddress[] = "192.0.2.10";
constexpr char kVaultAddress[] = "192.0.2.11";

// The second device comes from a file, with a '/' in its detail that the
// receiver keeps as part of the detail.
const char kVaultJson[] =
    R"({"devices": [{"ip": "192.0.2.11", "id": "b-2", "host": "vault", "vendor": "quenda",)"
    R"( "product": "QX4", "detail": "rack/2U", "version": "4.0.1-beta"}]})";

// What the two devices send, written out as a receiver expects it.
const std::string kNasHeaders =
    "LOCATION: http://192.0.2.10:80/desc.xml\r\n"
    "SERVER: VELD/2.1.0, UPnP/1.0, ZORVA/nas1/NS200/A1\r\n"
    "USN: uuid:4f2a-77::upnp:rootdevice\r\n"
    "\r\n";
const std::string kVaultHeaders =
    "LOCATION: http://192.0.2.11:80/desc.xml\r\n"
    "SERVER: VELD/4.0.1-beta, UPnP/1.0, quenda/vault/QX4/rack/2U\r\n"
    "USN: uuid:b-2::upnp:rootdevice\r\n"
    "\r\n";

std::string ReplyBytes(const std::string& text)
{
    std::string bytes(DHCPPACKET_SIZE, '\0');
    bytes[0] = DHCPPACKET_OP_REPLY;
    bytes[1] = 1;
    bytes.replace(DHCPPACKET_TEXT_OFFSET, text.size(), text);
    return bytes;
}

std::string Notify(const char* nts, const std::string& headers)
{
    return std::string("NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nNTS: ") + nts + "\r\n" + headers;
}

// Receives up to `count` datagrams, each within `timeout` of the last.
Senders ReceiveFromEach(udp::socket& socket, std::size_t count, std::chrono::milliseconds timeout = 5s)
{
    Senders senders;
    char buffer[2048];
    udp::endpoint sender;
    for (std::size_t index = 0; index < count; ++index) {
        const long size = ReceiveWithin(socket, asio::buffer(buffer), sender, timeout);
        if (size < 0) break;
        senders[sender.address().to_string()] = std::string(buffer, static_cast<std::size_t>(size));
    }
    return senders;
}

const udp::endpoint kBroadcastSearch(asio::ip::address_v4::broadcast(), wire::kBroadcastReplyPort);
const udp::endpoint kGroup(asio::ip::make_address_v4(wire::kMulticastGroup), wire::kMulticastPort);

// The simulator runs in a NAS host beside the finder.
class SimOnTheNetwork : public testing::Test {
protected:
    // A socket of the finder.
    udp::socket ClientSocket(const udp::endpoint& local)
    {
        netlab::Host::Inside inside(lab_.finder);
        udp::socket socket(io_, udp::v4());
        socket.set_option(asio::socket_base::broadcast(true));
        socket.bind(local);
        return socket;
    }

    // The NAS plays one device given by option and one read from a file.
    void StartTwoDevices(std::vector<std::string> more = {})
    {
        more.insert(more.end(), {"--device", simtest::DeviceText(kNasAddress), "--devices",
                                 lab_.files.Write("vault.json", kVaultJson)});
        lab_.StartSimulator(lab_.AddHost("nas", {kNasAddress, kVaultAddress}), more);
    }

    FinderLab lab_;
    asio::io_context io_;
};

TEST_F(SimOnTheNetwork, AnswersABroadcastSearchWithEachDevicesReplyFromItsAddress)
{
    StartTwoDevices();
    udp::socket searcher = ClientSocket(udp::endpoint(udp::v4(), wire::kBroadcastSearchPort));
    udp::socket stranger = ClientSocket(udp::endpoint(udp::v4(), 0));

    DHCPPACKET request;
    std::memset(&request, 0, sizeof request);
    request.op = DHCPPACKET_OP_SEARCH;
    request.type = 1;
    std::memset(request.mask, 0xFF, sizeof request.mask);
    DHCPPACKET reply = request;
    reply.op = DHCPPACKET_OP_REPLY;
    // Neither a short request nor a reply is a search.
    stranger.send_to(asio::buffer(&request, DHCPPACKET_SIZE - 1), kBroadcastSearch);
    stranger.send_to(asio::buffer(&reply, DHCPPACKET_SIZE), kBroadcastSearch);
    searcher.send_to(asio::buffer(&request, DHCPPACKET_SIZE), kBroadcastSearch);

    EXPECT_EQ(ReceiveFromEach(searcher, 2),
              (Senders{{kNasAddress, ReplyBytes("id=4f2a-77&host=nas1&vendor=ZORVA&product=NS200")},
                       {kVaultAddress, ReplyBytes("id=b-2&host=vault&vendor=quenda&product=QX4")}}));
    // The stranger's datagrams were taken before the search, so any answer
    // to them would have arrived ahead of the replies above.
    EXPECT_TRUE(ReceiveFromEach(stranger, 1, 0ms).empty());
}

TEST_F(SimOnTheNetwork, AnswersAnMSearchAtTheRequestersOwnAddressAndPort)
{
    StartTwoDevices({"--max-delay", "100"});
    // Bound as a per-address searcher binds, to its address and own port.
    udp::socket searcher = ClientSocket(udp::endpoint(asio::ip::make_address_v4("192.0.2.1"), 1530));
    udp::socket stranger = ClientSocket(udp::endpoint(udp::v4(), 0));

    const std::string foreignNotify = Notify("ssdp:alive", kNasHeaders);
    stranger.send_to(asio::buffer(foreignNotify), kGroup);
    searcher.send_to(asio::buffer(wire::MSearchRequest, wire::kMSearchRequestSize), kGroup);

    EXPECT_EQ(ReceiveFromEach(searcher, 2), (Senders{{kNasAddress, "HTTP/1.1 200 OK\r\n" + kNasHeaders},
                                                     {kVaultAddress, "HTTP/1.1 200 OK\r\n" + kVaultHeaders}}));
    EXPECT_TRUE(ReceiveFromEach(stranger, 1, 0ms).empty());
}

TEST_F(SimOnTheNetwork, TwoHundredDevicesOnOneInterfaceAllAnswerFromOneProcess)
{
    constexpr int kDevices = 200;
    std::vector<std::string> addresses;
    for (int index = 0; index < kDevices; ++index) addresses.push_back("192.0.2." + std::to_string(20 + index));
    lab_.StartSimulator(lab_.AddHost("nas", addresses), {"--count", std::to_string(kDevices), "--first-address", addresses[0]});

    udp::socket searcher = ClientSocket(udp::endpoint(udp::v4(), 0));
    // The answers come in one burst; the system caps this at its maximum.
    searcher.set_option(asio::socket_base::receive_buffer_size(wire::kReceiveBufferBytes));
    searcher.send_to(asio::buffer(wire::MSearchRequest, wire::kMSearchRequestSize), kGroup);

    const Senders answers = ReceiveFromEach(searcher, kDevices);
    EXPECT_EQ(answers.size(), static_cast<std::size_t>(kDevices));
    for (const auto& [from, answer] : answers) {
        EXPECT_NE(answer.find("LOCATION: http://" + from + ":80/desc.xml\r\n"), std::string::npos) << answer;
    }
}

}  // namespace
