// The lab itself: what its hosts send stays between them.
#include "netlab.h"
#include "receive_within.h"

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;

// Receives one datagram; the sender's address, or "" when none came.
std::string ReceiveOne(udp::socket& socket)
{
    char buffer[64];
    udp::endpoint sender;
    return ReceiveWithin(socket, asio::buffer(buffer), sender) < 0 ? "" : sender.address().to_string();
}

TEST(NetworkLab, TestProcessRunsOutsideTheMachinesNetwork)
{
    EXPECT_FALSE(netlab::InInitialNetworkNamespace());
}

TEST(NetworkLab, BroadcastAndMulticastCrossTheBridgeBetweenHosts)
{
    netlab::Lab lab;
    netlab::Lan lan = lab.AddLan();
    netlab::Host& sender = lab.AddHost("sender", {{lan, "192.0.2.1/24"}});
    netlab::Host& receiver = lab.AddHost("receiver", {{lan, "192.0.2.2/24"}});

    asio::io_context io;
    udp::socket listening(io);
    {
        netlab::Host::Inside inside(receiver);
        listening.open(udp::v4());
        listening.bind(udp::endpoint(udp::v4(), 68));
        listening.set_option(asio::ip::multicast::join_group(asio::ip::make_address_v4("239.143.255.250")));
    }
    netlab::Host::Inside inside(sender);
    udp::socket sending(io, udp::v4());
    sending.set_option(asio::socket_base::broadcast(true));
    sending.send_to(asio::buffer("b", 1), udp::endpoint(asio::ip::address_v4::broadcast(), 68));
    EXPECT_EQ(ReceiveOne(listening), "192.0.2.1");
    sending.send_to(asio::buffer("m", 1), udp::endpoint(asio::ip::make_address_v4("239.143.255.250"), 68));
    EXPECT_EQ(ReceiveOne(listening), "192.0.2.1");
}

TEST(NetworkLab, HostsCanGainAndLoseAddresses)
{
    netlab::Lab lab;
    netlab::Lan lan = lab.AddLan();
    netlab::Host& host = lab.AddHost("host", {{lan, "198.51.100.1/24"}});
    netlab::Host::Inside inside(host);
    asio::io_context io;
    udp::endpoint added(asio::ip::make_address_v4("198.51.100.7"), 0);
    boost::system::error_code error;

    host.AddAddress("198.51.100.7/24");
    udp::socket(io, udp::v4()).bind(added, error);
    EXPECT_FALSE(error) << error.message();

    host.RemoveAddress("198.51.100.7/24");
    udp::socket(io, udp::v4()).bind(added, error);
    EXPECT_TRUE(error);
}

}  // namespace
