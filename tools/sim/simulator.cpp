#include "simulator.h"

#include "engine/sockets/close_on_exec_socket.h"
#include "engine/wire/wire_protocol.h"
#include "sim_messages.h"

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <iostream>
#include <memory>
#include <unordered_map>

namespace sim {

namespace asio = boost::asio;
using asio::ip::udp;

namespace {

std::string Describe(const udp::endpoint& endpoint)
{
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

}  // namespace

Simulator::Simulator(asio::io_context& io, const std::vector<SimDevice>& devices, int maxDelayMs, bool verbose)
    : io_(io),
      maxDelayMs_(maxDelayMs),
      verbose_(verbose),
      broadcastSocket_(io),
      searchSocket_(io),
      random_(std::random_device{}())
{
    // Devices that share an address share its socket; found by address, so
    // that tens of thousands of devices start as fast as a few.
    std::unordered_map<asio::ip::address_v4::uint_type, std::size_t> socketOf;
    devices_.reserve(devices.size());
    for (const SimDevice& info : devices) {
        const asio::ip::address_v4 address = asio::ip::make_address_v4(info.ip);
        const auto [known, added] = socketOf.try_emplace(address.to_uint(), deviceAddresses_.size());
        if (added) deviceAddresses_.push_back(address);
        devices_.push_back(Device{info, known->second, BuildBroadcastReply(info), BuildSearchAnswer(info),
                                  BuildNotify(info, true), BuildNotify(info, false)});
    }
}

bool Simulator::Open(std::string& error)
{
    boost::system::error_code failure;
    deviceSockets_.reserve(deviceAddresses_.size());
    for (const asio::ip::address_v4& address : deviceAddresses_) {
        udp::socket& socket = deviceSockets_.emplace_back(io_);
        // Bound to the device's address, its answers carry that source; the
        // outgoing interface makes its announcements leave where that address lives.
        if (OpenCloseOnExec(socket, failure) ||
            socket.set_option(asio::ip::multicast::outbound_interface(address), failure) ||
            socket.bind(udp::endpoint(address, 0), failure)) {
            error = "cannot bind device address " + address.to_string() + ": " + failure.message();
            return false;
        }
    }

    if (OpenCloseOnExec(broadcastSocket_, failure) ||
        broadcastSocket_.bind(udp::endpoint(asio::ip::address_v4::any(), wire::kBroadcastReplyPort), failure)) {
        error = "cannot bind UDP port " + std::to_string(wire::kBroadcastReplyPort) +
                " for the broadcast search: " + failure.message();
        return false;
    }

    const asio::ip::address_v4 group = asio::ip::make_address_v4(wire::kMulticastGroup);
    if (OpenCloseOnExec(searchSocket_, failure) ||
        searchSocket_.bind(udp::endpoint(asio::ip::address_v4::any(), wire::kMulticastPort), failure)) {
        error = "cannot bind UDP port " + std::to_string(wire::kMulticastPort) + " for M-SEARCH: " + failure.message();
        return false;
    }
    for (const asio::ip::address_v4& address : deviceAddresses_) {
        // Several device addresses on one interface share one membership;
        // the system says so with "address in use" for the second.
        searchSocket_.set_option(asio::ip::multicast::join_group(group, address), failure);
        if (failure && failure != asio::error::address_in_use) {
            error = std::string("cannot join group ") + wire::kMulticastGroup + " on the interface of " +
                    address.to_string() + ": " + failure.message();
            return false;
        }
    }
    return true;
}

void Simulator::Start()
{
    AnnounceToGroup(true);
    ReceiveBroadcast();
    ReceiveSearch();
}

void Simulator::Stop()
{
    if (stopped_) return;
    stopped_ = true;
    boost::system::error_code ignored;
    broadcastSocket_.close(ignored);
    searchSocket_.close(ignored);
    AnnounceToGroup(false);
    for (udp::socket& socket : deviceSockets_) socket.close(ignored);
}

void Simulator::AnnounceToGroup(bool alive)
{
    const udp::endpoint group(asio::ip::make_address_v4(wire::kMulticastGroup), wire::kMulticastPort);
    for (const Device& device : devices_) {
        SendFrom(device, asio::buffer(alive ? device.alive : device.byebye), group);
    }
}

asio::const_buffer Simulator::BroadcastReplyOf(const Device& device)
{
    return asio::buffer(&device.broadcastReply, sizeof device.broadcastReply);
}

asio::const_buffer Simulator::SearchAnswerOf(const Device& device) { return asio::buffer(device.searchAnswer); }

void Simulator::SendFrom(const Device& device, asio::const_buffer datagram, const udp::endpoint& to)
{
    boost::system::error_code failure;
    deviceSockets_[device.socket].send_to(datagram, to, 0, failure);
    if (failure) {
        std::cerr << "nasscout-sim: cannot send from " << device.info.ip << " to " << Describe(to) << ": "
                  << failure.message() << std::endl;
    }
}

void Simulator::ReceiveBroadcast()
{
    broadcastSocket_.async_receive_from(
        asio::buffer(broadcastBuffer_), broadcastSender_, [this](boost::system::error_code failure, std::size_t size) {
            if (stopped_ || failure == asio::error::operation_aborted) return;
            if (!failure && IsBroadcastSearch(broadcastBuffer_.data(), size)) {
                if (verbose_) {
                    std::cout << "broadcast search from " << Describe(broadcastSender_) << ": " << devices_.size()
                              << " replies" << std::endl;
                }
                AnswerFromEach(&BroadcastReplyOf, broadcastSender_);
            }
            ReceiveBroadcast();
        });
}

void Simulator::ReceiveSearch()
{
    searchSocket_.async_receive_from(
        asio::buffer(searchBuffer_), searchSender_, [this](boost::system::error_code failure, std::size_t size) {
            if (stopped_ || failure == asio::error::operation_aborted) return;
            // Our own announcements come back here through the group; only searches are answered.
            if (!failure && IsMSearch(searchBuffer_.data(), size)) {
                if (verbose_) {
                    std::cout << "M-SEARCH from " << Describe(searchSender_) << ": " << devices_.size() << " answers"
                              << std::endl;
                }
                AnswerFromEach(&SearchAnswerOf, searchSender_);
            }
            ReceiveSearch();
        });
}

void Simulator::AnswerFromEach(asio::const_buffer (*answerOf)(const Device&), const udp::endpoint& requester)
{
    if (maxDelayMs_ == 0) {
        for (const Device& device : devices_) SendFrom(device, answerOf(device), requester);
        return;
    }
    std::uniform_int_distribution<int> delay(0, maxDelayMs_);
    for (const Device& device : devices_) {
        auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(delay(random_)));
        timer->async_wait([this, timer, &device, answerOf, requester](boost::system::error_code failure) {
            if (failure || stopped_) return;
            SendFrom(device, answerOf(device), requester);
        });
    }
}

}  // namespace sim
