// A receive with a watchdog: Asio's blocking receive ignores SO_RCVTIMEO, so
// a lost datagram would hang the test instead of failing it.
#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/udp.hpp>

#include <poll.h>

#include <chrono>

// Receives one datagram into `buffer`; its length, or -1 when none came within `timeout`.
inline long ReceiveWithin(boost::asio::ip::udp::socket& socket, boost::asio::mutable_buffer buffer,
                          boost::asio::ip::udp::endpoint& sender,
                          std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    pollfd ready{socket.native_handle(), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(timeout.count())) != 1) return -1;
    boost::system::error_code error;
    size_t length = socket.receive_from(buffer, sender, 0, error);
    return error ? -1 : static_cast<long>(length);
}
