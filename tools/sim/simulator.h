// The devices on the network: every socket of the simulator and the answers
// it sends. Runs entirely on the thread that runs the io_context.
#pragma once

#include "sim_device.h"

#include <searchdevice/dhcppacket.h>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace sim {

class Simulator {
public:
    // `devices` must have passed CheckDevice.
    Simulator(boost::asio::io_context& io, const std::vector<SimDevice>& devices, int maxDelayMs, bool verbose);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens one socket per device address, the broadcast listener on port 68
    // and the M-SEARCH listener on port 1900 with its group memberships. On
    // failure returns false with a message naming the address or port.
    bool Open(std::string& error);

    // Announces every device alive and starts answering searches.
    void Start();

    // Announces every device leaving and closes every socket; delayed
    // answers still pending are dropped when they come due.
    void Stop();

private:
    using Endpoint = boost::asio::ip::udp::endpoint;

    // Everything a device sends is built once.
    struct Device {
        SimDevice info;
        std::size_t socket;  // index into deviceSockets_
        DHCPPACKET broadcastReply;
        std::string searchAnswer;
        std::string alive;
        std::string byebye;
    };

    static boost::asio::const_buffer BroadcastReplyOf(const Device& device);
    static boost::asio::const_buffer SearchAnswerOf(const Device& device);

    void ReceiveBroadcast();
    void ReceiveSearch();
    // Every device sends its answer to `requester`: all at once, or each
    // after a random 0..maxDelayMs_, as devices honour the request's MX.
    void AnswerFromEach(boost::asio::const_buffer (*answerOf)(const Device&), const Endpoint& requester);
    void SendFrom(const Device& device, boost::asio::const_buffer datagram, const Endpoint& to);
    void AnnounceToGroup(bool alive);

    boost::asio::io_context& io_;
    const int maxDelayMs_;
    const bool verbose_;
    bool stopped_ = false;
    std::vector<Device> devices_;
    std::vector<boost::asio::ip::address_v4> deviceAddresses_;  // one per socket, in socket order
    std::vector<boost::asio::ip::udp::socket> deviceSockets_;
    boost::asio::ip::udp::socket broadcastSocket_;
    boost::asio::ip::udp::socket searchSocket_;
    // Room for more than the largest datagram of interest, so that an
    // oversized one is seen at its true length and ignored.
    std::array<unsigned char, 2048> broadcastBuffer_;
    Endpoint broadcastSender_;
    std::array<char, 2048> searchBuffer_;
    Endpoint searchSender_;
    std::mt19937 random_;
};

}  // namespace sim
