#include "sim_messages.h"

#include "wire_protocol.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr char kMSearchMethod[] = "M-SEARCH ";

// The headers that name the device, shared by answers and announcements.
// The text between the two commas of SERVER is free; a device puts its
// protocol version there. Lines end in CR LF; an empty line ends the message.
std::string DeviceHeaders(const SimDevice& device)
{
    std::string text;
    text += std::string(wire::kLocationHeader) + " http://" + device.ip + ":80/desc.xml\r\n";
    text += std::string(wire::kServerHeader) + " " + wire::kServerToken + device.version + ", UPnP/1.0, " +
            device.vendor + "/" + device.host + "/" + device.product + "/" + device.detail + "\r\n";
    text += std::string(wire::kUsnHeader) + " " + wire::kUuidPrefix + device.id + "::upnp:" +
            wire::kRootDevice + "\r\n";
    text += "\r\n";
    return text;
}

}  // namespace

std::string BroadcastReplyText(const SimDevice& device)
{
    return std::string(wire::kReplyIdKey) + device.id + "&" + wire::kReplyHostKey + device.host + "&" +
           wire::kReplyVendorKey + device.vendor + "&" + wire::kReplyProductKey + device.product;
}

DHCPPACKET BuildBroadcastReply(const SimDevice& device)
{
    DHCPPACKET reply;
    std::memset(&reply, 0, sizeof reply);
    reply.op = DHCPPACKET_OP_REPLY;
    reply.type = 1;
    const std::string text = BroadcastReplyText(device);
    std::memcpy(reply.text, text.data(), std::min(text.size(), sizeof reply.text));
    return reply;
}

std::string BuildSearchAnswer(const SimDevice& device)
{
    return "HTTP/1.1 200 OK\r\n" + DeviceHeaders(device);
}

std::string BuildNotify(const SimDevice& device, bool alive)
{
    return std::string(wire::kNotifyStart) + " * HTTP/1.1\r\n" + "NT: upnp:" + wire::kRootDevice + "\r\n" +
           wire::kNtsHeader + " " + (alive ? wire::kAliveNts : wire::kByebyeNts) + "\r\n" + DeviceHeaders(device);
}

bool IsBroadcastSearch(const unsigned char* data, std::size_t length)
{
    return length == DHCPPACKET_SIZE && data[0] == DHCPPACKET_OP_SEARCH;
}

bool IsMSearch(const char* data, std::size_t length)
{
    const std::size_t methodLength = sizeof kMSearchMethod - 1;
    return length >= methodLength && std::memcmp(data, kMSearchMethod, methodLength) == 0;
}

}  // namespace sim
