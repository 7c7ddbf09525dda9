// nasscout-sim on a network of namespaces: a client host sends the real
// searches and checks, byte for byte, what the simulated devices send back.
#include "netlab.h"
#include "sim_test_support.h"
#include "wire_protocol.h"

#include <searchdevice/dhcppacket.h>

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

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

constexpr char kNasAddress[] = "198.51.100.10";
constexpr char kVaultAddress[] = "198.51.100.11";
constexpr char kClientAddress[] = "198.51.100.1";

// The second device comes from a file, with a '/' in its detail that the
// receiver keeps as part of the detail.
const char kVaultJson[] =
    R"({"devices": [{"ip": "198.51.100.11", "id": "b-2", "host": "vault", "vendor": "quenda",)"
    R"( "product": "QX4", "detail": "rack/2U", "version": "4.0.1-beta"}]})";

// What the two devices send, written out as a receiver expects it.
const std::string kNasHeaders =
    "LOCATION: http://198.51.100.10:80/desc.xml\r\n"
    "SERVER: VELD/2.1.0, UPnP/1.0, ZORVA/nas1/NS200/A1\r\n"
    "USN: uuid:4f2a-77::upnp:rootdevice\r\n"
    "\r\n";
const std::string kVaultHeaders =
    "LOCATION: http://198.51.100.11:80/desc.xml\r\n"
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
// Asio's blocking receive ignores a socket's receive timeout, hence the poll.
Senders ReceiveFromEach(udp::socket& socket, std::size_t count, std::chrono::milliseconds timeout = 5s)
{
    Senders senders;
    for (std::size_t index = 0; index < count; ++index) {
        pollfd ready{socket.native_handle(), POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(timeout.count())) != 1) break;
        char buffer[2048];
        udp::endpoint sender;
        const std::size_t size = socket.receive_from(asio::buffer(buffer), sender);
        senders[sender.address().to_string()] = std::string(buffer, size);
    }
    return senders;
}

const udp::endpoint kBroadcastSearch(asio::ip::address_v4::broadcast(), wire::kBroadcastReplyPort);
const udp::endpoint kGroup(asio::ip::make_address_v4(wire::kMulticastGroup), wire::kMulticastPort);

// A client host and a NAS host on one segment; the simulator runs in the NAS host.
class SimOnTheNetwork : public testing::Test {
protected:
    SimOnTheNetwork()
        : lan_(lab_.AddLan()),
          nas_(lab_.AddHost("nas", {{lan_, std::string(kNasAddress) + "/24"}})),
          client_(lab_.AddHost("client", {{lan_, std::string(kClientAddress) + "/24"}}))
    {
    }

    ~SimOnTheNetwork() override
    {
        if (sim_ > 0) nas_.Stop(sim_);
        if (output_ >= 0) close(output_);
    }

    // Starts the simulator in the NAS host and waits for its ready line. Its
    // output goes through a FIFO, so the wait ends as soon as the line is
    // written, or when the program exits.
    testing::AssertionResult StartSim(const std::vector<std::string>& arguments)
    {
        const std::string fifo = scratch_.File("sim-output");
        if (mkfifo(fifo.c_str(), 0600) != 0) return testing::AssertionFailure() << "mkfifo " << fifo;
        output_ = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        std::vector<std::string> argv{simtest::kSimPath};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        sim_ = nas_.Spawn(argv, fifo);

        std::string printed;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (printed.find("nasscout-sim: ready") == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                    std::chrono::steady_clock::now());
            pollfd readable{output_, POLLIN, 0};
            if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) == 0) {
                return testing::AssertionFailure() << "no ready line within 10 s; printed: " << printed;
            }
            char buffer[512];
            const ssize_t got = read(output_, buffer, sizeof buffer);
            if (got == 0) return testing::AssertionFailure() << "the simulator ended: " << printed;
            if (got > 0) printed.append(buffer, static_cast<std::size_t>(got));
        }
        return testing::AssertionSuccess();
    }

    // SIGTERM to the simulator; its exit status, -1 when it had to be killed.
    int StopSim()
    {
        const int status = nas_.Stop(sim_);
        sim_ = -1;
        return status;
    }

    // A socket of the client host.
    udp::socket ClientSocket(const udp::endpoint& local)
    {
        netlab::Host::Inside inside(client_);
        udp::socket socket(io_, udp::v4());
        socket.set_option(asio::socket_base::broadcast(true));
        socket.bind(local);
        return socket;
    }

    std::vector<std::string> TwoDevices()
    {
        nas_.AddAddress(std::string(kVaultAddress) + "/24");
        return {"--device", simtest::DeviceText(kNasAddress), "--devices", scratch_.Write("vault.json", kVaultJson)};
    }

    netlab::Lab lab_;
    netlab::Lan lan_;
    netlab::Host& nas_;
    netlab::Host& client_;
    simtest::ScratchDirectory scratch_;
    asio::io_context io_;
    pid_t sim_ = -1;
    int output_ = -1;  // read end of the simulator's output FIFO
};

TEST_F(SimOnTheNetwork, AnswersABroadcastSearchWithEachDevicesReplyFromItsAddress)
{
    ASSERT_TRUE(StartSim(TwoDevices()));
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
    std::vector<std::string> arguments = TwoDevices();
    arguments.insert(arguments.end(), {"--max-delay", "100"});
    ASSERT_TRUE(StartSim(arguments));
    // Bound as a per-address searcher binds, to its address and own port.
    udp::socket searcher = ClientSocket(udp::endpoint(asio::ip::make_address_v4(kClientAddress), 1530));
    udp::socket stranger = ClientSocket(udp::endpoint(udp::v4(), 0));

    const std::string foreignNotify = Notify("ssdp:alive", kNasHeaders);
    stranger.send_to(asio::buffer(foreignNotify), kGroup);
    searcher.send_to(asio::buffer(wire::MSearchRequest, wire::kMSearchRequestSize), kGroup);

    EXPECT_EQ(ReceiveFromEach(searcher, 2), (Senders{{kNasAddress, "HTTP/1.1 200 OK\r\n" + kNasHeaders},
                                                     {kVaultAddress, "HTTP/1.1 200 OK\r\n" + kVaultHeaders}}));
    EXPECT_TRUE(ReceiveFromEach(stranger, 1, 0ms).empty());
}

TEST_F(SimOnTheNetwork, AnnouncesEachDeviceAliveOnStartAndLeavingOnSigterm)
{
    udp::socket listener = ClientSocket(udp::endpoint(udp::v4(), wire::kMulticastPort));
    {
        netlab::Host::Inside inside(client_);
        listener.set_option(asio::ip::multicast::join_group(kGroup.address()));
    }
    ASSERT_TRUE(StartSim(TwoDevices()));
    EXPECT_EQ(ReceiveFromEach(listener, 2), (Senders{{kNasAddress, Notify("ssdp:alive", kNasHeaders)},
                                                     {kVaultAddress, Notify("ssdp:alive", kVaultHeaders)}}));

    EXPECT_EQ(StopSim(), 0);
    EXPECT_EQ(ReceiveFromEach(listener, 2), (Senders{{kNasAddress, Notify("ssdp:byebye", kNasHeaders)},
                                                     {kVaultAddress, Notify("ssdp:byebye", kVaultHeaders)}}));
}

TEST_F(SimOnTheNetwork, TwoHundredDevicesOnOneInterfaceAllAnswerFromOneProcess)
{
    constexpr int kDevices = 200;
    std::string batch;
    for (int index = 0; index < kDevices; ++index) {
        batch += "address add 198.51.100." + std::to_string(20 + index) + "/24 dev eth0\n";
    }
    ASSERT_EQ(nas_.Run({"ip", "-batch", scratch_.Write("addresses", batch)}), 0);
    ASSERT_TRUE(StartSim({"--count", std::to_string(kDevices), "--first-address", "198.51.100.20"}));

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
